// The platform's Windows side where it differs from Linux: the database read while Access holds it open for writing
// with its share modes (and deletes or replaces it), the user's Documents folder, the drive roots in paths, and the
// system's errors in Spanish.
#include "platform/FileSystem.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ScratchFile.h"
#include "platform/SystemError.h"
#include "platform/WorkingFolder.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

namespace {

// A handle as Access holds the database: reading and writing, sharing reading and writing with the other users.
class AccessHandle {
public:
    explicit AccessHandle(const std::string& path)
        : m_handle(::CreateFileW(pathOf(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~AccessHandle() {
        if (m_handle != INVALID_HANDLE_VALUE) ::CloseHandle(m_handle);
    }
    AccessHandle(const AccessHandle&) = delete;
    AccessHandle& operator=(const AccessHandle&) = delete;

    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    void writeAt(std::uint64_t offset, const std::string& bytes) {
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &where));
        ASSERT_EQ(written, bytes.size());
    }

private:
    HANDLE m_handle;
};

std::string readAll(const ReadOnlyFile& file) {
    std::string bytes(64, '\0');
    const std::span piece(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    bytes.resize(file.readAt(0, std::span(&piece, 1)));
    return bytes;
}

TEST(WindowsReadOnlyFile, ReadsWhatAccessWritesAndLeavesNoLockFile) {
    TempDir dir;
    const std::string path = FileSystem::childPath(dir.str(), "Impuest.mdb");
    AccessHandle access(path);
    ASSERT_TRUE(access.isOpen());
    access.writeAt(0, "Standard Jet DB");
    const ReadOnlyFile file(path);  // opened after Access
    EXPECT_EQ(readAll(file), "Standard Jet DB");
    AccessHandle second(path);  // and Access opened after it: another user
    EXPECT_TRUE(second.isOpen());

    const FileStamp before = file.stamp();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    second.writeAt(15, " 4.0");
    const FileStamp after = file.stamp();
    EXPECT_EQ(after.size, before.size + 4);
    EXPECT_GT(after.modified, before.modified);
    EXPECT_GE(after.changed, before.changed);
    EXPECT_NE(after.changed, 0);
    EXPECT_EQ(readAll(file), "Standard Jet DB 4.0");
    EXPECT_EQ(file.identity(), ReadOnlyFile::identityOf(path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// Shared for deletion too: another program may rename the file aside, put another in its place and delete the
// old one while it is read. (Deleted, a file open keeps its name until it is closed: renamed, it gives it up.)
TEST(WindowsReadOnlyFile, AnotherProgramReplacesItWhileItIsRead) {
    TempDir dir;
    const std::string path = FileSystem::childPath(dir.str(), "Impuest.mdb");
    const std::string backup = FileSystem::childPath(dir.str(), "Impuest.bak");
    const std::string newer = FileSystem::childPath(dir.str(), "db1.mdb");
    writeBytes(pathOf(path), "first");
    writeBytes(pathOf(newer), "second");
    const ReadOnlyFile file(path);
    const FileIdentity identity = file.identity();
    ASSERT_TRUE(::MoveFileExW(pathOf(path).c_str(), pathOf(backup).c_str(), 0)) << ::GetLastError();
    ASSERT_TRUE(::MoveFileExW(pathOf(newer).c_str(), pathOf(path).c_str(), 0)) << ::GetLastError();
    EXPECT_TRUE(::DeleteFileW(pathOf(backup).c_str())) << ::GetLastError();
    EXPECT_NE(ReadOnlyFile::identityOf(path), identity);
    EXPECT_EQ(readBytes(pathOf(path)), "second");
    EXPECT_EQ(readAll(file), "first");
    EXPECT_EQ(file.identity(), identity);
}

TEST(WindowsFileSystem, DriveRootsAndBothSeparators) {
    const struct {
        const char* folder;
        const char* trimmed;
        const char* child;
    } rows[] = {
        {"C:\\", "C:\\", "C:\\Impuest.mdb"},
        {"C:/", "C:/", "C:/Impuest.mdb"},
        {"C:\\Velmora\\\\", "C:\\Velmora", "C:\\Velmora\\\\Impuest.mdb"},
        {"C:\\Velmora/", "C:\\Velmora", "C:\\Velmora/Impuest.mdb"},
        {"C:\\Users\\Muñoz\\Documents", "C:\\Users\\Muñoz\\Documents", "C:\\Users\\Muñoz\\Documents\\Impuest.mdb"},
        {"\\\\servidor\\impuestos\\", "\\\\servidor\\impuestos", "\\\\servidor\\impuestos\\Impuest.mdb"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FileSystem::withoutTrailingSeparators(row.folder), row.trimmed) << row.folder;
        EXPECT_EQ(FileSystem::childPath(row.folder, "Impuest.mdb"), row.child) << row.folder;
    }
    EXPECT_TRUE(FileSystem::exists(FileSystem::childPath(FileSystem::executableFolder(), "windows_platform_test.exe")));
    EXPECT_FALSE(FileSystem::exists("Q:\\no\\existe"));
}

// An installed program works in Velmora of the user's Documents, as it does in ~/Velmora on Linux.
TEST(WindowsWorkingFolder, InTheDocumentsFolder) {
    const std::string documents = homeFolder();
    ASSERT_FALSE(documents.empty());
    EXPECT_TRUE(FileSystem::isFolder(documents)) << documents;
    TempDir dir;
    const std::string velmora = FileSystem::childPath(documents, "Velmora");
    const bool existed = FileSystem::exists(velmora);
    EXPECT_EQ(workingFolder(dir.str(), documents, ""), velmora);
    EXPECT_TRUE(FileSystem::isFolder(velmora));
    if (!existed) ::RemoveDirectoryW(pathOf(velmora).c_str());
}

TEST(WindowsSystemError, SpanishWords) {
    const TempDir dir;
    const std::string missing = FileSystem::childPath(dir.str(), "Impuest.mdb");
    try {
        ReadOnlyFile{missing};
        FAIL() << "a missing file was opened";
    } catch (const std::system_error& e) {
        // The system's own words where it has them in Spanish ("El sistema no puede encontrar el archivo
        // especificado"), else ours ("no se encuentra el archivo"); never its English ones.
        const std::string words = systemErrorText(e.code());
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_TRUE(words.find("rchivo") != std::string::npos || words.find("ichero") != std::string::npos) << words;
        EXPECT_EQ(words.find("not found"), std::string::npos) << words;
        EXPECT_FALSE(words.ends_with(".")) << words;
    }
    EXPECT_EQ(systemErrorText(std::make_error_code(std::errc::is_a_directory)), "es una carpeta");
}

// The scratch file is in the folder for temporary files (TMP's) only while it is open.
TEST(WindowsScratchFile, GoneWhenClosed) {
    TempDir dir;
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", dir.path().c_str()));
    {
        ScratchFile file;
        file.append("rows");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    }
    ::SetEnvironmentVariableW(L"TMP", nullptr);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0);
}

}  // namespace

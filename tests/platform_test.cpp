// The platform's files on a real file system, as both systems must give them: a file read while another program
// writes it, names beyond ASCII, a file replaced under its name, the scratch file and the clock.
#include "platform/Clock.h"
#include "platform/FileNames.h"
#include "platform/FileSystem.h"
#include "platform/OutputFile.h"
#include "platform/ReadOnlyFile.h"
#include "platform/ScratchFile.h"
#include "platform/SiblingTempFile.h"
#include "platform/SystemError.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <thread>

namespace {

// Each system's rule for the name of a file in a folder, on both systems; the running system's is the file
// system's.
TEST(FileNames, WhatEachSystemTakes) {
    const struct {
        const char* name;
        std::string_view file;
        bool onLinux;
        bool onWindows;
    } rows[] = {
        {"an export's name", "RET-PERC-IB-20123456783-200501-200501.txt", true, true},
        {"ñ and accents", "RET-PERC-IB-Muñoz Ñandú-200501-200501.csv", true, true},
        {"a slash", "RET-PERC-IB-20/1-200501.txt", false, false},
        {"a NUL", std::string_view("RET\0x.txt", 9), false, false},
        {"a backslash", "RET-PERC-IB-20\\1.txt", true, false},
        {"a colon: a drive, or a stream of a file", "RET-PERC-IB-20:1.txt", true, false},
        {"an asterisk", "RET*.txt", true, false},
        {"a question mark", "RET?.txt", true, false},
        {"a double quote", "RET\"1.txt", true, false},
        {"less than", "RET<1.txt", true, false},
        {"greater than", "RET>1.txt", true, false},
        {"a bar", "RET|1.txt", true, false},
        {"a tab", "RET\t1.txt", true, false},
        {"the last control character",
         "RET\x1F"
         "1.txt",
         true, false},
        {"DEL is no control character to Windows",
         "RET\x7F"
         "1.txt",
         true, true},
        {"a trailing dot", "RET-PERC.", true, false},
        {"a trailing blank", "RET-PERC.txt ", true, false},
        {"a leading blank", " RET-PERC.txt", true, true},
        {"CON", "CON", true, false},
        {"con with an extension", "con.txt", true, false},
        {"NUL with blanks and an extension", "NUL  .csv", true, false},
        {"PRN with two extensions", "Prn.tar.gz", true, false},
        {"AUX", "aux", true, false},
        {"COM1", "COM1.XLS", true, false},
        {"COM9", "com9", true, false},
        {"COM0", "COM0.txt", true, false},
        {"COM with a superscript digit", "COM\xC2\xB9.txt", true, false},
        {"LPT3", "LPT3.txt", true, false},
        {"CONIN$", "CONIN$", true, false},
        {"a device's name within a longer name", "CONSOLA.txt", true, true},
        {"COM10 is no device", "COM10.txt", true, true},
        {"a device's name after the first dot", "x.CON", true, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FileNames::linuxTakes(row.file), row.onLinux) << row.name;
        EXPECT_EQ(FileNames::windowsTakes(row.file), row.onWindows) << row.name;
        EXPECT_EQ(FileSystem::isFileName(row.file), kOnWindows ? row.onWindows : row.onLinux) << row.name;
    }
}

std::string readAt(const ReadOnlyFile& file, std::uint64_t offset, std::size_t a, std::size_t b) {
    std::string first(a, '\0'), second(b, '\0');
    const std::array pieces{std::span(reinterpret_cast<unsigned char*>(first.data()), a),
                            std::span(reinterpret_cast<unsigned char*>(second.data()), b)};
    const std::size_t read = file.readAt(offset, pieces);
    return (first + second).substr(0, read);
}

// Access keeps the database open for writing while the program reads it: the reader sees each write, and the
// stamp tells that the file changed.
TEST(ReadOnlyFile, ReadsWhileAnotherProgramWrites) {
    TempDir dir;
    const std::string path = FileSystem::childPath(dir.str(), "Impuest.mdb");
    std::ofstream writer(pathOf(path), std::ios::binary);
    writer << "0123456789" << std::flush;
    const ReadOnlyFile file(path);
    EXPECT_EQ(readAt(file, 2, 3, 4), "2345678");
    EXPECT_EQ(readAt(file, 8, 3, 4), "89");  // fewer only at the end
    EXPECT_EQ(readAt(file, 10, 3, 4), "");
    EXPECT_EQ(readAt(file, 1u << 20, 3, 4), "");
    const FileStamp before = file.stamp();
    EXPECT_EQ(before.size, 10u);

    // Stamps of the same second are told apart by their nanoseconds, or by the size.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writer.seekp(4);
    writer << "ab" << std::flush;
    const FileStamp rewritten = file.stamp();
    EXPECT_EQ(rewritten.size, 10u);
    EXPECT_GT(rewritten.modified, before.modified);
    EXPECT_EQ(readAt(file, 2, 3, 4), "23ab678");
    writer.seekp(0, std::ios::end);
    writer << "XYZ" << std::flush;
    EXPECT_EQ(file.stamp().size, 13u);
    EXPECT_EQ(readAt(file, 8, 3, 4), "89XYZ");

    // The stamp is the system's clock: a write is stamped with about the time now.
    const std::int64_t now = systemClock().now();
    EXPECT_LT(std::abs(file.stamp().modified - now), std::int64_t(5'000'000'000)) << file.stamp().modified;
    EXPECT_EQ(ReadOnlyFile::identityOf(path), file.identity());
}

TEST(ReadOnlyFile, RefusesWhatIsNoFile) {
    TempDir dir;
    try {
        ReadOnlyFile{dir.str()};
        ADD_FAILURE() << "a folder was opened";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::not_supported);
    }
    const std::string missing = FileSystem::childPath(dir.str(), "missing.mdb");
    try {
        ReadOnlyFile{missing};
        ADD_FAILURE() << "a missing file was opened";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_FALSE(systemErrorText(e.code()).empty());
    }
    EXPECT_EQ(ReadOnlyFile::identityOf(missing), std::nullopt);
}

// Another file put in place of the one open (renamed aside as a backup, and the new one renamed to its name) keeps
// its name but not its identity; the open one reads on as it was. (Windows keeps the name of a file deleted while
// it is open until it is closed: renamed, it is gone from the name at once.)
TEST(ReadOnlyFile, AFileReplacedUnderItsName) {
    TempDir dir;
    const std::string path = FileSystem::childPath(dir.str(), "Impuest.mdb");
    const std::string newer = FileSystem::childPath(dir.str(), "db1.mdb");
    writeBytes(pathOf(path), "first");
    writeBytes(pathOf(newer), "second");
    const ReadOnlyFile file(path);
    EXPECT_TRUE(file.namedBy(path));
    std::filesystem::rename(pathOf(path), pathOf(FileSystem::childPath(dir.str(), "Impuest.bak")));
    EXPECT_EQ(ReadOnlyFile::identityOf(path), std::nullopt);
    EXPECT_FALSE(file.namedBy(path));
    std::filesystem::rename(pathOf(newer), pathOf(path));
    EXPECT_EQ(readBytes(pathOf(path)), "second");
    EXPECT_NE(ReadOnlyFile::identityOf(path), file.identity());
    EXPECT_FALSE(file.namedBy(path));
    EXPECT_EQ(readAt(file, 0, 5, 0), "first");
    EXPECT_EQ(ReadOnlyFile{path}.identity(), ReadOnlyFile::identityOf(path));
    EXPECT_TRUE(ReadOnlyFile{path}.namedBy(path));
}

// The agency's folders and taxpayers' names carry accents and ñ: every service takes them as UTF-8.
TEST(FileSystem, NamesBeyondAscii) {
    TempDir dir;
    const std::string folder = FileSystem::childPath(dir.str(), "Muñoz Ñandú €");
    EXPECT_FALSE(FileSystem::exists(folder));
    FileSystem::MkDir(folder);
    EXPECT_TRUE(FileSystem::exists(folder));
    EXPECT_TRUE(FileSystem::isFolder(folder));
    EXPECT_THROW(FileSystem::MkDir(folder), RuntimeError);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / std::filesystem::path(u8"Muñoz Ñandú €")));

    const std::string database = FileSystem::childPath(folder, "Año ñ.mdb");
    writeBytes(pathOf(database), "Jet");
    EXPECT_TRUE(FileSystem::exists(database));
    EXPECT_FALSE(FileSystem::isFolder(database));
    EXPECT_EQ(readAt(ReadOnlyFile(database), 0, 2, 2), "Jet");
    EXPECT_TRUE(ReadOnlyFile::identityOf(database).has_value());

    const std::string output = FileSystem::childPath(folder, "RET-PERC-Peña.txt");
    std::unique_ptr<OutputFile> file = makeOutputFile();
    file->Open(output);
    file->PrintLine("Peña");
    file->Close();
    EXPECT_EQ(readBytes(pathOf(output)),
              "Pe\xF1"
              "a\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(pathOf(folder)), {}), 2);
}

// A temporary file beside the target is gone when dropped, and replaces an existing target when committed.
TEST(SiblingTempFile, ReplacesOrLeavesNothing) {
    TempDir dir;
    const std::string target = FileSystem::childPath(dir.str(), "x.XLS");
    writeBytes(pathOf(target), "old");
    {
        SiblingTempFile dropped(target);
        dropped.write("never");
        EXPECT_TRUE(FileSystem::exists(dropped.path()));
        EXPECT_TRUE(dropped.path().starts_with(target + ".tmp-")) << dropped.path();
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    SiblingTempFile file(target);
    std::fputs("through the stream", file.stream());
    file.commit();
    EXPECT_EQ(file.stream(), nullptr);
    EXPECT_EQ(readBytes(pathOf(target)), "through the stream");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    EXPECT_THROW(SiblingTempFile(FileSystem::childPath(FileSystem::childPath(dir.str(), "missing"), "x")),
                 std::system_error);
}

TEST(ScratchFile, GivesBackWhatWasAppended) {
    ScratchFile file;
    std::string big(300000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
    EXPECT_EQ(file.append("head"), 0u);
    EXPECT_EQ(file.append(big), 4u);
    EXPECT_EQ(file.append(""), 300004u);
    EXPECT_EQ(file.size(), 300004u);
    std::string back(big.size() - 2, '\0');
    file.readAt(6, back);
    EXPECT_EQ(back, big.substr(2));
    char past[4];
    EXPECT_THROW(file.readAt(300002, past), std::system_error);
}

TEST(Clock, IsTheWallClockAndWaits) {
    Clock& clock = systemClock();
    const auto wall =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    EXPECT_LT(std::abs(clock.now() - wall), std::int64_t(1'000'000'000));
    const std::int64_t before = clock.now();
    clock.sleep(std::chrono::milliseconds(30));
    EXPECT_GE(clock.now() - before, std::int64_t(25'000'000));
}

}  // namespace

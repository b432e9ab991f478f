// Writes that fail on Windows: the target held open by another program (a spreadsheet showing last month's file),
// and a full disk, on a small disk of its own where scripts/build-windows.sh could mount one. (A read-only folder
// stops no one under Wine, where the tests run as the machine's owner: it is not tried.)
#include "platform/FileSystem.h"
#include "platform/OutputFile.h"
#include "platform/SystemError.h"
#include "platform/windows/WindowsError.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

std::size_t entries(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(OutputFile, ATargetHeldByAnotherProgramStaysAsItWas) {
    TempDir dir;
    const std::string target = FileSystem::childPath(dir.str(), "RET-PERC-IB-20123456783-201901-201912.txt");
    writeBytes(pathOf(target), "old\r\n");
    // Opened as spreadsheets open what they show: others may read it, but not write, delete or replace it.
    const HANDLE held = ::CreateFileW(pathOf(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::unique_ptr<OutputFile> file = makeOutputFile();
    file->Open(target);
    file->PrintLine("new");
    std::string error;
    try {
        file->Close();
    } catch (const RuntimeError& e) {
        error = e.Description();
    }
    ::CloseHandle(held);
    EXPECT_TRUE(error.starts_with("No se puede poner el archivo nuevo en lugar de " + target + ": ")) << error;
    EXPECT_EQ(readBytes(pathOf(target)), "old\r\n");
    EXPECT_EQ(entries(dir.path()), 1u);
    EXPECT_FALSE(file->isOpen());

    // Let go, the same export replaces it.
    file->Open(target);
    file->PrintLine("new");
    file->Close();
    EXPECT_EQ(readBytes(pathOf(target)), "new\r\n");
    EXPECT_EQ(entries(dir.path()), 1u);
}

TEST(OutputFile, AFullDiskFailsTheWriteAndKeepsTheTarget) {
    const std::string disk = VELMORA_SMALL_DISK;
    ULARGE_INTEGER available{}, total{};
    if (!::GetDiskFreeSpaceExW(pathOf(disk).c_str(), &available, &total, nullptr) || total.QuadPart > 4u << 20)
        GTEST_SKIP() << "no small disk at " << disk << ": scripts/build-windows.sh mounts one when it may";
    const std::string target = FileSystem::childPath(disk, "x.txt");
    writeBytes(pathOf(target), "old\r\n");
    std::unique_ptr<OutputFile> file = makeOutputFile();
    file->Open(target);
    std::string error;
    int lines = 0;
    try {
        for (; lines < 1'000'000; ++lines) file->PrintLine("0123456789012345678901234567890123456789");
    } catch (const RuntimeError& e) {
        error = e.Description();
    }
    EXPECT_LT(lines, 1'000'000);
    // The system's Spanish words for a full disk (Wine's "Disco lleno"), or ours.
    EXPECT_EQ(error, "No se puede escribir el archivo " + target + ": " +
                         systemErrorText(std::error_code(ERROR_DISK_FULL, windowsCategory())));
    // Closed after the error, it still does not replace the target, and leaves nothing beside it.
    EXPECT_THROW(file->Close(), RuntimeError);
    EXPECT_EQ(readBytes(pathOf(target)), "old\r\n");
    EXPECT_EQ(entries(pathOf(disk)), 1u);
    std::filesystem::remove(pathOf(target));
}

}  // namespace

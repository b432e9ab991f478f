// The .XLS workbook's compound file as Windows's structured storage writes it: the stream in it, its sectors, a
// name beyond ASCII, a target another program holds, a full disk; and no .xlsx.
#include "platform/SystemError.h"
#include "platform/windows/WindowsError.h"
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/Spreadsheet.h"
#include "workbook/XlsApplication.h"
#include "workbook/XlsxWorkbook.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

namespace fs = std::filesystem;

namespace {

std::size_t entries(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

// A sheet of a few rows of every kind of cell the exports write.
std::unique_ptr<ExcelSheet> filledSheet(int rows) {
    std::unique_ptr<ExcelSheet> sheet = CreateObject("Excel.Sheet");
    for (int r = 1; r <= rows; ++r) {
        sheet->Application().setCell(r, 1, Value::text("20-1234567" + std::to_string(r % 10) + "-3"));
        sheet->Application().setCell(r, 2, Value::real(r * 1.25));
        sheet->Application().setCell(r, 12, Value::text("Ñandú Cía — " + std::to_string(r)));
    }
    return sheet;
}

// The compound file holds the program's own stream as it is, in 512-byte sectors (version 3, as Excel 97-2003
// writes them), under a name beyond ASCII.
TEST(WindowsWorkbook, TheCompoundFileHoldsTheStreamAsItIs) {
    TempDir dir;
    const fs::path path = dir.path() / u8"Muñoz RET-PERC.XLS";
    const std::unique_ptr<ExcelSheet> sheet = filledSheet(3000);
    sheet->SaveAs(utf8Path(path));
    const auto& cells = dynamic_cast<XlsApplication&>(sheet->Application()).cells();
    const std::vector<std::uint8_t> expected = Biff8Workbook(cells, u"Hoja1").stream();
    EXPECT_TRUE(workbookStream(path) == std::string(expected.begin(), expected.end()));
    const std::string header = readBytes(path).substr(0, 0x20);
    EXPECT_EQ(header.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_EQ(header.substr(0x18, 8), std::string("\x3E\0\x03\0\xFE\xFF\x09\0", 8))
        << "minor version 3E, major version 3, little-endian, sectors of 2^9 bytes";
    const ReadBook book = readBook(path);
    EXPECT_EQ(book.sheetName, "Hoja1");
    EXPECT_EQ(book.rows, 3000u);
    EXPECT_EQ(book.at(3000, 12), Cell{"Ñandú Cía — 3000"});
    EXPECT_EQ(entries(dir.path()), 1u);
}

// The file holds the workbook and nothing else: the directory's entries that name nothing are empty, as is what a
// sector holds past its stream's end, so that the same workbook saved twice is the same file (and no memory of the
// process, its environment for one, ever reaches a file sent to the agency).
TEST(WindowsWorkbook, TheFileHoldsNothingButTheWorkbook) {
    TempDir dir;
    const std::unique_ptr<ExcelSheet> sheet = filledSheet(700);
    std::string files[2];
    for (std::string& file : files) {
        sheet->SaveAs(utf8Path(dir.path() / "x.XLS"));
        file = readBytes(dir.path() / "x.XLS");
    }
    EXPECT_TRUE(files[0] == files[1]);
    const std::string& file = files[0];
    const auto u32 = [&](std::size_t at) {
        std::uint32_t value = 0;
        std::memcpy(&value, file.data() + at, 4);
        return value;
    };
    // The directory's first sector: the root entry, the Workbook stream, then entries naming nothing.
    const std::size_t directory = 512 * (1 + std::size_t(u32(0x30)));
    ASSERT_LE(directory + 512, file.size());
    for (std::size_t entry = directory + 2 * 128; entry < directory + 512; entry += 128) {
        const std::string bytes = file.substr(entry, 128);
        EXPECT_EQ(bytes[0x42], 0) << "an entry of type " << int(bytes[0x42]) << " at byte " << entry;
        EXPECT_EQ(bytes.substr(0, 0x42), std::string(0x42, '\0')) << "a name in an empty entry at byte " << entry;
        EXPECT_EQ(bytes.substr(0x50), std::string(128 - 0x50, '\0')) << "data in an empty entry at byte " << entry;
    }
    // The stream's last sector past its end, found along its chain in the allocation table (whose sectors the
    // header lists).
    const std::uint32_t size = u32(directory + 128 + 0x78);
    const auto next = [&](std::uint32_t sector) {
        const std::uint32_t fatSector = u32(0x4C + 4 * (sector / 128));
        return u32(512 * (1 + std::size_t(fatSector)) + 4 * (sector % 128));
    };
    std::uint32_t last = u32(directory + 128 + 0x74);
    for (std::uint32_t n = 1; n < (size + 511) / 512; ++n) last = next(last);
    EXPECT_EQ(next(last), 0xFFFFFFFEu);  // the end of the chain
    const std::size_t tail = (512 - size % 512) % 512;
    EXPECT_EQ(file.substr(512 * (1 + std::size_t(last)) + 512 - tail, tail), std::string(tail, '\0'));
}

// A spreadsheet showing last month's workbook holds it open: the new one cannot take its place, which stays as it
// was, and nothing is left beside it; let go, the same save replaces it.
TEST(WindowsWorkbook, ATargetHeldByAnotherProgramStaysAsItWas) {
    TempDir dir;
    const fs::path target = dir.path() / "RET-PERC-IB-20123456783-201901-201912.XLS";
    writeBytes(target, "old");
    const HANDLE held = ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::string error;
    try {
        filledSheet(10)->SaveAs(utf8Path(target));
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), RuntimeError::FileError);
        error = e.Description();
    }
    ::CloseHandle(held);
    EXPECT_TRUE(error.starts_with("No se puede guardar la planilla " + utf8Path(target) +
                                  ": no se puede poner el archivo nuevo en su lugar: "))
        << error;
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(entries(dir.path()), 1u);
    filledSheet(10)->SaveAs(utf8Path(target));
    EXPECT_EQ(readBook(target).rows, 10u);
}

// A disk too small for the workbook fails the save with the system's words for a full disk; the workbook that was
// there stays, and nothing is left beside it.
TEST(WindowsWorkbook, AFullDiskFailsTheSaveAndKeepsTheTarget) {
    const std::string disk = VELMORA_SMALL_DISK;
    ULARGE_INTEGER available{}, total{};
    if (!::GetDiskFreeSpaceExW(pathOf(disk).c_str(), &available, &total, nullptr) || total.QuadPart > 4u << 20)
        GTEST_SKIP() << "no small disk at " << disk << ": scripts/build-windows.sh mounts one when it may";
    const fs::path target = pathOf(disk) / "RET-PERC-IB-20123456783-201901-201912.XLS";
    writeBytes(target, "old");
    std::string error;
    try {
        filledSheet(20000)->SaveAs(utf8Path(target));  // some megabytes
    } catch (const RuntimeError& e) {
        error = e.Description();
    }
    EXPECT_EQ(error, "No se puede guardar la planilla " + utf8Path(target) +
                         ": no se puede escribir el archivo temporal: " +
                         systemErrorText(std::error_code(ERROR_DISK_FULL, windowsCategory())));
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(entries(pathOf(disk)), 1u);
    fs::remove(target);
}

// No .xlsx on Windows: whatever asks for one is told so, and what to choose instead.
TEST(WindowsWorkbook, NoXlsx) {
    EXPECT_FALSE(XlsxWorkbook::offered());
    for (const auto& create : {+[] { XlsxWorkbook::create("x.xlsx"); }, +[] { XlsxWorkbook::createChecking(); }}) {
        try {
            create();
            ADD_FAILURE() << "an .xlsx sheet was made";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::SpreadsheetError);
            EXPECT_EQ(e.Description(), XlsxWorkbook::notOffered());
            EXPECT_NE(e.Description().find("XLS (Excel 97-2003)"), std::string::npos);
        }
    }
}

}  // namespace

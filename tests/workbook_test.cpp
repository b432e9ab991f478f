// The spreadsheet stand-in: cells set through CreateObject("Excel.Sheet"), saved with SaveAs and read back (with
// libfreexl on Linux). Long texts and the records that point at others are checked on the workbook stream itself:
// libfreexl reads a shared string only when it spans at most two records, and it ignores EXTSST. What each system's
// compound file adds is in workbook_test_posix.cpp and workbook_test_windows.cpp.
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/Spreadsheet.h"
#include "workbook/XlsCellGrid.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <map>
#include <random>
#include <set>
#include <variant>

namespace fs = std::filesystem;

namespace {

std::string repeat(const std::string& piece, int times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) names.insert(entry.path().string());
    return names;
}

TEST(Workbook, CellsReadBackAsTheyWereSet) {
    struct Case {
        const char* name;
        std::vector<Value> writes;  // set in turn on the same cell
        Cell expected;
    };
    const std::string longText = repeat("0123456789", 1200);  // goes on from the SST record into a CONTINUE
    const std::vector<Case> cases = {
        {"accented text", {Value::text("DJ_AÑO")}, "DJ_AÑO"},
        {"amounts keep their bits", {Value::real(0.07)}, 0.07},
        {"negative amount", {Value::real(-21474836.48)}, -21474836.48},
        {"whole number", {Value::integer(200501)}, 200501.0},
        {"date as its day number", {Value::date(39575.75)}, 39575.75},
        {"null", {Value::null()}, std::monostate{}},
        {"empty text", {Value::text("")}, std::monostate{}},
        {"euro, dash, quote and beyond the BMP", {Value::text("Cía — € ’x’ 𝄞")}, "Cía — € ’x’ 𝄞"},
        {"malformed UTF-8",
         {Value::text("a\xFF"
                      "b")},
         "a\uFFFDb"},
        {"number replaced by text", {Value::real(1), Value::text("R")}, "R"},
        {"text replaced by null", {Value::text("P"), Value::null()}, std::monostate{}},
        {"same text twice", {Value::text("DJ_AÑO")}, "DJ_AÑO"},
        {"long text", {Value::text(longText)}, longText},
    };
    TempDir dir;
    auto sheet = CreateObject("Excel.Sheet");
    for (std::size_t i = 0; i < cases.size(); ++i)
        for (const Value& v : cases[i].writes) sheet->Application().setCell(static_cast<int>(i) + 1, 2, v);
    // The sheet's size follows the cells used: the last row and column of the format, one set and cleared again.
    sheet->Application().setCell(65536, 256, Value::real(1));
    sheet->Application().setCell(65535, 3, Value::real(1));
    sheet->Application().setCell(65535, 3, Value::null());
    sheet->SaveAs(utf8Path(dir.path() / "values.XLS"));

    const ReadBook book = readBook(dir.path() / "values.XLS");
    EXPECT_EQ(book.sheetName, "Hoja1");
    EXPECT_EQ(book.strings, 5u);  // "DJ_AÑO" once, the replaced "P" not at all
    EXPECT_EQ(book.rows, 65536u);
    EXPECT_EQ(book.columns, 256u);
    EXPECT_EQ(book.cells.size(), 11u);
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(book.at(static_cast<unsigned>(i) + 1, 2), cases[i].expected) << cases[i].name;
}

TEST(Workbook, CellsTheFormatCannotHoldAreRejected) {
    const char* const rows = "una planilla .XLS tiene 65.536 filas, numeradas desde 1";
    const char* const columns = "una planilla .XLS tiene 256 columnas, numeradas desde 1";
    const char* const tooLong = "el texto pasa de 32.767 caracteres";
    // Row, column, value, and why the cell is refused (empty when it is not).
    const std::tuple<std::int32_t, std::int16_t, Value, const char*> cases[] = {
        {65537, 1, Value::real(1), rows},
        {0, 1, Value::null(), rows},
        {1, 257, Value::real(1), columns},
        {1, 0, Value::real(1), columns},
        {2, 7, Value::text(std::string(32767, 'a')), ""},
        {2, 7, Value::text(std::string(32768, 'a')), tooLong},
        {2, 7, Value::text(repeat("𝄞", 16384)), tooLong},  // a surrogate pair counts twice
        {3, 8, Value::real(std::nan("")), "el valor no es un número finito"}};
    for (const auto& [row, column, value, reason] : cases) {
        auto sheet = CreateObject("Excel.Sheet");
        try {
            sheet->Application().setCell(row, column, value);
            EXPECT_STREQ(reason, "");
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::SpreadsheetError);
            EXPECT_EQ(e.Description(), "No se puede escribir la celda de la fila " + std::to_string(row) +
                                           ", columna " + std::to_string(column) + ": " + reason);
        }
    }
    // Only "Excel.Sheet" is known, in any case; after Quit nothing more can be set or saved.
    EXPECT_NE(CreateObject("excel.sheet"), nullptr);
    EXPECT_THROW(CreateObject("Word.Document"), RuntimeError);
    auto sheet = CreateObject("Excel.Sheet");
    EXPECT_FALSE(sheet->Application().Visible());
    sheet->Application().Quit();
    EXPECT_THROW(sheet->Application().setCell(2, 1, Value::real(1)), RuntimeError);
    TempDir dir;
    EXPECT_THROW(sheet->SaveAs(utf8Path(dir.path() / "never.XLS")), RuntimeError);
    EXPECT_FALSE(fs::exists(dir.path() / "never.XLS"));
}

// The last row of an .XLS sheet, its 65,536th, holds a cell and the row after it is refused (an .xlsx sheet's in
// workbook_test_posix.cpp). Only the first and the last rows are written.
TEST(Workbook, TheLastRowHoldsACell) {
    TempDir dir;
    const fs::path path = dir.path() / "last.XLS";
    const std::unique_ptr<ExcelSheet> sheet = CreateObject("Excel.Sheet");
    sheet->Application().setCell(1, 1, Value::text("first"));
    sheet->Application().setCell(65536, 2, Value::real(1.5));
    EXPECT_THROW(sheet->Application().setCell(65537, 1, Value::real(1)), RuntimeError);
    sheet->SaveAs(utf8Path(path));
    const ReadBook book = readBook(path);
    EXPECT_EQ(book.rows, 65536u);
    EXPECT_EQ(book.at(1, 1), Cell{"first"});
    EXPECT_EQ(book.at(65536, 2), Cell{1.5});
}

TEST(Workbook, SaveAsReplacesTheTargetOnlyWhenTheWholeWorkbookIsWritten) {
    TempDir dir;
    const fs::path path = dir.path() / "RET-PERC-IB-20123456783-200501-200501.XLS";
    writeBytes(path, "an older export");
    for (const char* text : {"first", "second"}) {
        auto sheet = CreateObject("Excel.Sheet");
        sheet->Application().setCell(1, 1, Value::text(text));
        sheet->SaveAs(utf8Path(path));
        EXPECT_EQ(readBook(path).at(1, 1), Cell(text));
        EXPECT_EQ(listing(dir.path()), std::set<std::string>{path.string()});
    }
    // The system's words follow the step that failed: Linux's are pinned here, Windows's are its own.
    const std::string temporary = "no se puede crear un archivo temporal a su lado: ";
    const std::pair<fs::path, std::string> failures[] = {
        {dir.path() / "missing" / "out.XLS", temporary + (kOnWindows ? "" : "no existe el archivo o la carpeta")},
        {dir.path() / "taken.XLS", "hay una carpeta con ese nombre"},
        {path.string() + std::string(240, 'n'), temporary + (kOnWindows ? "" : "el nombre es demasiado largo")},
    };
    fs::create_directory(dir.path() / "taken.XLS");
    for (const auto& [target, reason] : failures) {
        const auto before = listing(dir.path());
        auto sheet = CreateObject("Excel.Sheet");
        sheet->Application().setCell(1, 1, Value::text("CUIT"));
        try {
            sheet->SaveAs(utf8Path(target));
            ADD_FAILURE() << target << " saved";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::FileError);
            const std::string expected = "No se puede guardar la planilla " + utf8Path(target) + ": " + reason;
            if (reason.ends_with(": "))
                EXPECT_TRUE(e.Description().starts_with(expected) && e.Description().size() > expected.size())
                    << e.Description();
            else
                EXPECT_EQ(e.Description(), expected);
        }
        EXPECT_EQ(listing(dir.path()), before);
    }
}

TEST(Workbook, TheGridHoldsTheLastValueSetInEveryCellWhateverTheOrder) {
    // Numbers a cell holds itself (whole, hundredths) and ones kept beside it, at the edges of each.
    const double numbers[] = {0,    -0.0,  200501,       -536870912,   536870912,  0.07,
                              0.29, 1e300, std::nan(""), -21474836.48, 5368709.11, 0.1 + 0.2};
    const std::u16string texts[] = {u"CUIT", u"Cía — €", u"", u"AG_RAZON_SOCIAL"};
    using Held = std::variant<std::uint64_t, std::u16string>;  // a number's bits, or a text
    std::map<std::pair<std::uint32_t, std::uint16_t>, Held> expected;
    XlsCellGrid grid;
    std::mt19937 random(12345);
    // Rows grow, shrink and are replaced in any order, so that they move within and across the cell blocks.
    for (int i = 0; i < 30000; ++i) {
        const auto row = static_cast<std::uint32_t>(random() % 300);
        const auto column = static_cast<std::uint16_t>(random() % 40);
        if (const auto what = random() % 4; what == 0) {
            grid.clear(row, column);
            expected.erase({row, column});
        } else if (what == 1) {
            const std::u16string& text = texts[random() % std::size(texts)];
            grid.setText(row, column, text);
            expected[{row, column}] = text;
        } else {
            const double number = numbers[random() % std::size(numbers)];
            grid.setNumber(row, column, number);
            expected[{row, column}] = std::bit_cast<std::uint64_t>(number);
        }
    }
    std::map<std::pair<std::uint32_t, std::uint16_t>, Held> held;
    for (std::uint32_t r = 0; r <= grid.rowSpan(); ++r)
        for (const XlsCellGrid::Cell& cell : grid.row(r))
            held[{r, cell.column()}] = cell.isText() ? Held(std::u16string(grid.text(cell.text())))
                                                     : Held(std::bit_cast<std::uint64_t>(grid.number(cell)));
    EXPECT_TRUE(held == expected);
    EXPECT_EQ(grid.textCount(), std::size(texts));
}

// The shared strings of a workbook stream, decoded the way the format splits them over CONTINUE records, with the
// EXTSST index that points at every 16th.
struct SharedStrings {
    std::vector<std::u16string> texts;
    std::vector<std::pair<std::uint32_t, std::uint16_t>> starts;   // stream position, offset in its record
    std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;  // EXTSST entries
    std::map<std::pair<int, int>, std::uint32_t> cells;            // (row, column) from 0 -> string index
    std::size_t largestRecord = 0;
    bool pairCut = false;  // a fragment ended between the two halves of a surrogate pair
};

SharedStrings decode(const std::vector<std::uint8_t>& s) {
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(s.at(at) | s.at(at + 1) << 8); };
    const auto u32 = [&](std::size_t at) { return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16; };
    SharedStrings out;
    std::vector<std::size_t> sst;  // positions of the SST record and its CONTINUE records
    for (std::size_t at = 0, eofs = 0; eofs < 2; at += 4 + u16(at + 2)) {
        const std::uint16_t type = u16(at);
        eofs += type == 0x000A;
        out.largestRecord = std::max<std::size_t>(out.largestRecord, u16(at + 2));
        if (type == 0x00FC || (type == 0x003C && !sst.empty() && sst.back() + 4 + u16(sst.back() + 2) == at))
            sst.push_back(at);
        if (type == 0x00FF)
            for (std::size_t e = at + 6; e < at + 4 + u16(at + 2); e += 8) out.buckets.emplace_back(u32(e), u16(e + 4));
        if (type == 0x00FD) out.cells[{u16(at + 4), u16(at + 6)}] = u32(at + 10);
    }
    std::size_t part = 0, at = 4 + 8;  // offsets within a record, counting its header
    const auto nextRecordAtEnd = [&] {
        if (at != 4u + u16(sst[part] + 2)) return false;
        ++part;
        at = 4;
        return true;
    };
    for (std::uint32_t i = 0, count = u32(sst[0] + 8); i < count; ++i) {
        nextRecordAtEnd();
        out.starts.emplace_back(sst[part] + at, at);
        const std::uint16_t length = u16(sst[part] + at);
        std::uint8_t flags = s[sst[part] + at + 2];
        at += 3;
        std::u16string text;
        while (text.size() < length) {
            if (nextRecordAtEnd()) {
                out.pairCut |= text.back() >= 0xD800 && text.back() <= 0xDBFF;
                flags = s[sst[part] + at++];
            }
            text += (flags & 1) ? static_cast<char16_t>(u16(sst[part] + at)) : char16_t{s[sst[part] + at]};
            at += (flags & 1) ? 2 : 1;
        }
        out.texts.push_back(text);
    }
    return out;
}

TEST(Workbook, LongTextsAreSplitOverContinueRecordsIntact) {
    const auto repeat16 = [](std::u16string out, std::u16string_view piece, int times) {
        while (times-- > 0) out += piece;
        return out;
    };
    const std::u16string texts[] = {u"CUIT",
                                    repeat16(u"é", u"x", 19999),
                                    repeat16(u"€", u"ñ", 19999),
                                    repeat16(u"", u"𝄞", 10000),  // surrogate pairs from an even offset
                                    repeat16(u"a", u"😀", 9999),  // and from an odd one
                                    repeat16(u"", u"z", 32767),
                                    u"AG_RAZON_SOCIAL"};
    XlsCellGrid grid;
    for (std::size_t i = 0; i < std::size(texts); ++i) grid.setText(static_cast<std::uint32_t>(i), 3, texts[i]);
    // Enough short texts after them for 128 EXTSST buckets of 16, several starting in CONTINUE records.
    for (std::uint32_t i = 0; i < 2041; ++i) grid.setText(100 + i, 0, repeat16(u"t·", u"-", static_cast<int>(i)));
    const SharedStrings sst = decode(Biff8Workbook(grid, u"Hoja1").stream());
    EXPECT_LE(sst.largestRecord, 8224u);
    EXPECT_FALSE(sst.pairCut);
    ASSERT_EQ(sst.texts.size(), std::size(texts) + 2041);
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_TRUE(sst.texts[sst.cells.at({static_cast<int>(i), 3})] == texts[i]) << i;
    ASSERT_EQ(sst.buckets.size(), 128u);
    for (std::size_t k = 0; k < sst.buckets.size(); ++k) EXPECT_EQ(sst.buckets[k], sst.starts[16 * k]) << k;

    // Written a piece at a time, the stream is the same: positions filled in after their record was handed on
    // (the worksheet's offset, the row blocks' DBCELLs) arrive with their values.
    for (std::uint32_t r = 3000; r < 9000; ++r)
        for (std::uint16_t c = 0; c < 12; ++c) grid.setNumber(r, c, r * 100.0 + c);
    const Biff8Workbook book(grid, u"Hoja1");
    std::vector<std::uint8_t> pieces;
    book.write([&](std::span<const std::uint8_t> piece) { pieces.insert(pieces.end(), piece.begin(), piece.end()); });
    EXPECT_TRUE(pieces == book.stream());
}

}  // namespace

// The spreadsheet stand-in end to end: cells set through CreateObject("Excel.Sheet"), saved with SaveAs and read
// back with libfreexl. Long texts and the record pointers are checked on the workbook stream itself: libfreexl
// reads a shared string only when it spans at most two records, and it ignores INDEX, DBCELL and EXTSST.
#include "runtime/RuntimeError.h"
#include "support/WorkbookReader.h"
#include "workbook/Biff8Workbook.h"
#include "workbook/Spreadsheet.h"
#include "workbook/XlsCellGrid.h"

#include <freexl.h>
#include <gtest/gtest.h>

#include <span>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <variant>
#include <vector>

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

class XlsWorkbookTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "xls-workbook-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    fs::path m_dir;
};

TEST_F(XlsWorkbookTest, CellValuesReadBackAsTheyWereSet) {
    struct Case {
        const char* name;
        std::vector<Value> writes;  // set in turn on the same cell
        Cell expected;
    };
    const std::string longText = repeat("0123456789", 1200);  // goes on from the SST record into a CONTINUE
    const std::vector<Case> cases = {
        {"header text", {Value::text("CUIT")}, "CUIT"},
        {"accented header", {Value::text("DJ_AÑO")}, "DJ_AÑO"},
        {"amount with one decimal", {Value::real(1234.5)}, 1234.5},
        {"small amount", {Value::real(0.07)}, 0.07},
        {"large amount", {Value::real(21474836.48)}, 21474836.48},
        {"negative amount", {Value::real(-0.07)}, -0.07},
        {"whole number", {Value::integer(200501)}, 200501.0},
        {"date as its day number", {Value::date(39575.75)}, 39575.75},
        {"null", {Value::null()}, std::monostate{}},
        {"empty text", {Value::text("")}, std::monostate{}},
        {"euro, dash and quote", {Value::text("Peña & Cía — 1.500 € ’x’")}, "Peña & Cía — 1.500 € ’x’"},
        {"character beyond the BMP", {Value::text("clave 𝄞 fin")}, "clave 𝄞 fin"},
        {"malformed UTF-8",
         {Value::text("a\xFF"
                      "b")},
         "a\xEF\xBF\xBD"
         "b"},
        {"number replaced by text", {Value::real(1), Value::text("R")}, "R"},
        {"text replaced by null", {Value::text("P"), Value::null()}, std::monostate{}},
        {"same text twice", {Value::text("CUIT")}, "CUIT"},
        {"long text", {Value::text(longText)}, longText},
    };
    auto sheet = CreateObject("Excel.Sheet");
    for (std::size_t i = 0; i < cases.size(); ++i)
        for (const Value& v : cases[i].writes) sheet->Application().setCell(static_cast<int>(i) + 1, 2, v);
    sheet->SaveAs((m_dir / "values.XLS").string());

    const ReadBook book = readBook(m_dir / "values.XLS");
    EXPECT_EQ(book.sheetName, "Hoja1");
    EXPECT_EQ(book.strings, 7u);  // "CUIT" once, the replaced "P" not at all
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(book.at(static_cast<unsigned>(i) + 1, 2), cases[i].expected) << cases[i].name;
}

TEST_F(XlsWorkbookTest, SheetSizeFollowsTheUsedCells) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> filled;  // (row, column) set to a number; negated, set to Null
        unsigned rows;
        unsigned short columns;
    };
    const Case cases[] = {
        {"nothing set", {}, 0, 0},
        {"header row", {{1, 1}, {1, 12}}, 1, 12},
        {"last row", {{1, 1}, {65536, 12}}, 65536, 12},
        {"last column", {{1, 256}, {2, 1}}, 2, 256},
        {"last row cleared again", {{1, 1}, {2, 3}, {-2, -3}}, 1, 1},
    };
    for (const Case& c : cases) {
        auto sheet = CreateObject("Excel.Sheet");
        std::map<std::pair<unsigned, unsigned>, Cell> expected;
        for (const auto& [row, column] : c.filled) {
            const double number = row + column / 1000.0;
            sheet->Application().setCell(std::abs(row), static_cast<std::int16_t>(std::abs(column)),
                                         row > 0 ? Value::real(number) : Value::null());
            if (row > 0)
                expected[{row, column}] = number;
            else
                expected.erase({-row, -column});
        }
        sheet->SaveAs((m_dir / "size.XLS").string());
        const ReadBook book = readBook(m_dir / "size.XLS");
        EXPECT_EQ(book.rows, c.rows) << c.name;
        EXPECT_EQ(book.columns, c.columns) << c.name;
        EXPECT_EQ(book.cells, expected) << c.name;
    }
}

TEST(XlsApplication, CellsTheFormatCannotHoldAreRejected) {
    struct Case {
        const char* name;
        std::int32_t row;
        std::int16_t column;
        Value value;
        const char* reason;  // empty when accepted
    };
    const char* const rows = "the workbook format holds 65,536 rows, numbered from 1";
    const char* const columns = "the workbook format holds 256 columns, numbered from 1";
    const char* const tooLong = "the cell text exceeds 32,767 characters";
    const Case cases[] = {
        {"last row", 65536, 1, Value::real(1), ""},
        {"row past the last", 65537, 1, Value::real(1), rows},
        {"row zero", 0, 1, Value::null(), rows},
        {"last column", 1, 256, Value::real(1), ""},
        {"column past the last", 1, 257, Value::real(1), columns},
        {"column zero", 1, 0, Value::real(1), columns},
        {"longest text", 2, 7, Value::text(std::string(32767, 'a')), ""},
        {"text one too long", 2, 7, Value::text(std::string(32768, 'a')), tooLong},
        {"surrogate pairs count twice", 2, 7, Value::text(repeat("𝄞", 16384)), tooLong},
        {"not a number", 3, 8, Value::real(std::nan("")), "the value is not a finite number"},
    };
    for (const Case& c : cases) {
        auto sheet = CreateObject("Excel.Sheet");
        try {
            sheet->Application().setCell(c.row, c.column, c.value);
            EXPECT_STREQ(c.reason, "") << c.name;
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::SpreadsheetError) << c.name;
            EXPECT_EQ(e.Description(),
                      "cannot set cell (" + std::to_string(c.row) + ", " + std::to_string(c.column) + "): " + c.reason)
                << c.name;
        }
    }
}

TEST_F(XlsWorkbookTest, OnlyExcelSheetIsCreatedAndItsApplicationQuits) {
    EXPECT_NE(CreateObject("excel.sheet"), nullptr);
    try {
        CreateObject("Word.Document");
        ADD_FAILURE() << "created";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Number(), RuntimeError::SpreadsheetError);
        EXPECT_EQ(e.Description(), "cannot create object Word.Document: only Excel.Sheet is available");
    }

    auto sheet = CreateObject("Excel.Sheet");
    ExcelApplication& app = sheet->Application();
    EXPECT_FALSE(app.Visible());
    app.setVisible(true);
    EXPECT_TRUE(app.Visible());
    app.Quit();
    const std::string path = (m_dir / "after-quit.XLS").string();
    EXPECT_THROW(app.setCell(2, 1, Value::real(1)), RuntimeError);
    try {
        sheet->SaveAs(path);
        ADD_FAILURE() << "saved";
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Description(), "cannot save workbook " + path + ": the spreadsheet application has quit");
    }
    EXPECT_TRUE(fs::is_empty(m_dir));
}

TEST_F(XlsWorkbookTest, ManyDistinctTextsSpanManyContinueRecords) {
    auto sheet = CreateObject("Excel.Sheet");
    const auto text = [](unsigned row, const char* column) {
        return "Razón " + std::to_string(row) + column + (row % 7 == 0 ? " €" : "");
    };
    for (unsigned row = 1; row <= 65536; ++row) {
        sheet->Application().setCell(static_cast<int>(row), 1, Value::text(text(row, "a")));
        sheet->Application().setCell(static_cast<int>(row), 2, Value::text(text(row, "b")));
        sheet->Application().setCell(static_cast<int>(row), 3, Value::real(row / 100.0));
    }
    sheet->SaveAs((m_dir / "many.XLS").string());

    const ReadBook book = readBook(m_dir / "many.XLS");
    EXPECT_EQ(book.strings, 131072u);
    ASSERT_EQ(book.cells.size(), 3u * 65536);
    for (unsigned row = 1; row <= 65536; ++row) {
        ASSERT_EQ(book.at(row, 1), Cell(text(row, "a"))) << row;
        ASSERT_EQ(book.at(row, 2), Cell(text(row, "b"))) << row;
        ASSERT_EQ(book.at(row, 3), Cell(row / 100.0)) << row;
    }
}

// Little-endian fields and records of a workbook stream.
struct StreamBytes {
    const std::vector<std::uint8_t>& s;

    std::uint16_t u16(std::size_t at) const { return static_cast<std::uint16_t>(s.at(at) | s.at(at + 1) << 8); }
    std::uint32_t u32(std::size_t at) const { return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16; }
    // Record type by stream position, up to the worksheet's EOF.
    std::map<std::size_t, std::uint16_t> records() const {
        std::map<std::size_t, std::uint16_t> types;
        for (std::size_t at = 0, eofs = 0; eofs < 2; at += 4 + u16(at + 2)) {
            types[at] = u16(at);
            eofs += u16(at) == 0x000A;
        }
        return types;
    }
};

// The shared strings of a workbook stream, decoded the way the format splits them over CONTINUE records.
struct SharedStrings {
    std::vector<std::u16string> texts;
    std::vector<std::pair<std::uint32_t, std::uint16_t>> starts;   // each string's stream position, record offset
    std::vector<std::pair<std::uint32_t, std::uint16_t>> buckets;  // EXTSST entries
    std::uint16_t bucketSize = 0;
    std::map<std::pair<int, int>, std::uint32_t> cells;  // (row, column) from 0 -> string index
    std::size_t largestRecord = 0;
    bool pairCut = false;  // a fragment ended between the two halves of a surrogate pair
};

SharedStrings decode(const std::vector<std::uint8_t>& s) {
    const StreamBytes b{s};
    SharedStrings out;
    std::vector<std::size_t> sst;  // positions of the SST record and its CONTINUE records
    for (const auto& [at, type] : b.records()) {
        out.largestRecord = std::max<std::size_t>(out.largestRecord, b.u16(at + 2));
        if (type == 0x00FC || (type == 0x003C && !sst.empty() && sst.back() + 4 + b.u16(sst.back() + 2) == at))
            sst.push_back(at);
        if (type == 0x00FF) {
            out.bucketSize = b.u16(at + 4);
            for (std::size_t e = at + 6; e < at + 4 + b.u16(at + 2); e += 8)
                out.buckets.emplace_back(b.u32(e), b.u16(e + 4));
        }
        if (type == 0x00FD) out.cells[{b.u16(at + 4), b.u16(at + 6)}] = b.u32(at + 10);
    }
    std::size_t part = 0, at = 4 + 8;   // offsets within a record, counting its header
    const auto nextRecordAtEnd = [&] {  // moves on to the next record when this one is used up
        if (at != 4u + b.u16(sst[part] + 2)) return false;
        ++part;
        at = 4;
        return true;
    };
    for (std::uint32_t i = 0, count = b.u32(sst[0] + 8); i < count; ++i) {
        nextRecordAtEnd();
        out.starts.emplace_back(sst[part] + at, at);
        const std::uint16_t length = b.u16(sst[part] + at);
        std::uint8_t flags = s[sst[part] + at + 2];
        at += 3;
        std::u16string text;
        while (text.size() < length) {
            if (nextRecordAtEnd()) {
                out.pairCut |= text.back() >= 0xD800 && text.back() <= 0xDBFF;
                flags = s[sst[part] + at++];
            }
            text += (flags & 1) ? static_cast<char16_t>(b.u16(sst[part] + at)) : char16_t{s[sst[part] + at]};
            at += (flags & 1) ? 2 : 1;
        }
        out.texts.push_back(text);
    }
    return out;
}

std::u16string repeat16(std::u16string_view head, std::u16string_view piece, int times) {
    std::u16string out(head);
    while (times-- > 0) out += piece;
    return out;
}

TEST(Biff8Workbook, LongTextsAreSplitOverContinueRecordsIntact) {
    struct Case {
        const char* name;
        std::u16string text;
    };
    const Case cases[] = {
        {"short text before", u"CUIT"},
        {"20,000 Latin-1 characters", repeat16(u"é", u"x", 19999)},
        {"20,000 characters with a euro sign", repeat16(u"€", u"ñ", 19999)},
        {"surrogate pairs from an even offset", repeat16(u"", u"𝄞", 10000)},
        {"surrogate pairs from an odd offset", repeat16(u"a", u"😀", 9999)},
        {"longest cell text", repeat16(u"", u"z", 32767)},
        {"short text after", u"AG_RAZON_SOCIAL"},
    };
    XlsCellGrid grid;
    for (std::size_t i = 0; i < std::size(cases); ++i) grid.setText(static_cast<std::uint32_t>(i), 3, cases[i].text);
    // Enough short texts after them for 128 EXTSST buckets of 16, several starting in CONTINUE records.
    for (std::uint32_t i = 0; i < 2041; ++i) grid.setText(100 + i, 0, repeat16(u"t·", u"-", static_cast<int>(i)));
    const SharedStrings sst = decode(Biff8Workbook(grid, u"Hoja1").stream());

    EXPECT_LE(sst.largestRecord, 8224u);
    EXPECT_FALSE(sst.pairCut);
    ASSERT_EQ(sst.texts.size(), std::size(cases) + 2041);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_TRUE(sst.texts[sst.cells.at({static_cast<int>(i), 3})] == cases[i].text) << cases[i].name;
    ASSERT_EQ(sst.bucketSize, 16);
    ASSERT_EQ(sst.buckets.size(), 128u);
    for (std::size_t k = 0; k < sst.buckets.size(); ++k) EXPECT_EQ(sst.buckets[k], sst.starts[16 * k]) << k;

    // Written a piece at a time, the stream is the same: positions filled in after their record was handed on
    // (the worksheet's offset, the row blocks' DBCELLs) arrive with their values.
    for (std::uint32_t r = 3000; r < 9000; ++r)
        for (std::uint16_t c = 0; c < 12; ++c) grid.setNumber(r, c, r * 100.0 + c);
    const Biff8Workbook book(grid, u"Hoja1");
    std::vector<std::uint8_t> pieces;
    std::size_t count = 0;
    book.write([&](std::span<const std::uint8_t> piece) {
        pieces.insert(pieces.end(), piece.begin(), piece.end());
        ++count;
    });
    EXPECT_GT(count, 10u);
    EXPECT_TRUE(pieces == book.stream());
}

TEST_F(XlsWorkbookTest, FailedSaveLeavesTheFolderAsItWas) {
    struct Case {
        const char* name;
        fs::path target;
        const char* existing;  // "folder", "file" or nothing at the target
        const char* reason;
    };
    const Case cases[] = {
        {"missing folder", m_dir / "missing" / "out.XLS", "",
         "cannot create a temporary file beside it: No such file or directory"},
        {"folder with the target's name", m_dir / "taken.XLS", "folder", "a folder of that name exists"},
        {"no room for the temporary name", m_dir / (std::string(250, 'n') + ".XLS"), "file",
         "cannot create a temporary file beside it: File name too long"},
    };
    for (const Case& c : cases) {
        if (std::string(c.existing) == "folder") fs::create_directory(c.target);
        if (std::string(c.existing) == "file") std::ofstream(c.target) << "old workbook";
        const auto before = listing(m_dir);
        auto sheet = CreateObject("Excel.Sheet");
        sheet->Application().setCell(1, 1, Value::text("CUIT"));
        try {
            sheet->SaveAs(c.target.string());
            ADD_FAILURE() << c.name << ": saved";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::FileError) << c.name;
            EXPECT_EQ(e.Description(), "cannot save workbook " + c.target.string() + ": " + c.reason) << c.name;
        }
        EXPECT_EQ(listing(m_dir), before) << c.name;
        if (std::string(c.existing) == "file") {
            std::ifstream in(c.target);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old workbook") << c.name;
        }
    }
}

TEST_F(XlsWorkbookTest, SaveAsReplacesAnExistingFile) {
    const fs::path path = m_dir / "RET-PERC-IB-20123456783-200501-200501.XLS";
    std::ofstream(path) << "an older export";
    for (const char* text : {"first", "second"}) {
        auto sheet = CreateObject("Excel.Sheet");
        sheet->Application().setCell(1, 1, Value::text(text));
        sheet->SaveAs(path.string());
        EXPECT_EQ(readBook(path).at(1, 1), Cell(text));
        EXPECT_EQ(listing(m_dir), std::set<std::string>{path.string()});
    }
}

}  // namespace

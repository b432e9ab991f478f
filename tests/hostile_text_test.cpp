// Hostile contents in every exported text column, through the real writers: a TXT line per movement and a
// workbook row read back with libfreexl. Each movement stays one line, fields are changed only as the program's
// own cleaning says, characters outside Windows-1252 become "?" in the files and stay whole in the workbook, and
// a text too long for a cell stops the export instead of being cut.
#include "export/Form1.h"
#include "formats/RecordLine.h"
#include "formats/SpreadsheetRows.h"
#include "runtime/RuntimeError.h"
#include "support/FakeRecordset.h"
#include "support/MemoryOutputFile.h"
#include "support/ScriptedMessageBoxes.h"
#include "support/TestFiles.h"
#include "workbook/XlsApplication.h"

#include <freexl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <map>

namespace {

// The exported text columns, how the program changes their content, and where each lands in a TXT line and
// in a workbook row (from 0 and from 1).
enum class Cleaning { AsStored, Cleaned, CleanedUpperCase };
struct Column {
    const char* name;
    Cleaning cleaning;
    std::size_t field;
    std::int16_t cell;
};
const Column kColumns[] = {
    {"CMD_NumRef", Cleaning::AsStored, 0, 1},         {"CP01_IngBrut", Cleaning::AsStored, 1, 2},
    {"Per_Concepto", Cleaning::Cleaned, 6, 7},        {"Per_CUIT", Cleaning::AsStored, 9, 10},
    {"Per_NumAgenteRet", Cleaning::AsStored, 10, 11}, {"Per_Responsable", Cleaning::CleanedUpperCase, 11, 12},
};

// The fields of the withholding below as a TXT line holds them, in Windows-1252.
const std::vector<std::string> kFields = {"20123456783",
                                          "9012345",
                                          "R",
                                          "2008",
                                          "5",
                                          "20080507",
                                          "0001-00001234",
                                          "123450",
                                          "3704",
                                          "30987654321",
                                          "456",
                                          "FERRETER\xCD"
                                          "A CENTRO S A "};

FakeRecordset::Row withholding(const std::string& changed, const std::string& text) {
    FakeRecordset::Row row = {{"CMD_NumRef", Value::text("20-12345678-3")},
                              {"CP01_IngBrut", Value::text("9012345")},
                              {"tipo", Value::text("R")},
                              {"Per_Año", Value::integer(2008)},
                              {"Per_Mes", Value::integer(5)},
                              {"Per_Fecha", Value::date(39575)},
                              {"Per_Concepto", Value::text("0001-00001234")},
                              {"Per_Monto", Value::real(1234.5)},
                              {"Per_Monto1", Value::real(37.04)},
                              {"Per_CUIT", Value::text("30-98765432-1")},
                              {"Per_NumAgenteRet", Value::text("456")},
                              {"Per_Responsable", Value::text("Ferretería Centro S.A.")}};
    for (auto& [name, field] : row)
        if (name == changed) field = Value::text(text);
    return row;
}

struct Hostile {
    const char* name;
    std::string text;
    // What the TXT line holds in the column's place (Windows-1252), by cleaning; then what the workbook cell
    // holds (UTF-8).
    std::map<Cleaning, std::string> txt;
    std::map<Cleaning, std::string> cell;
};

const std::string kControls(
    "a\tb\rc\nd\0e\x1F"
    "f",
    10);
const Hostile kHostile[] = {
    // Line breaks become blanks in the files only: a cell may hold them.
    {"control characters",
     kControls,
     {{Cleaning::AsStored, std::string("a\tb c d\0e\x1F"
                                       "f",
                                       10)},
      {Cleaning::Cleaned, std::string("a\tb c d\0e\x1F"
                                      "f",
                                      10)},
      {Cleaning::CleanedUpperCase, std::string("A\tB C D\0E\x1F"
                                               "F",
                                               10)}},
     {{Cleaning::AsStored, kControls},
      {Cleaning::Cleaned, kControls},
      {Cleaning::CleanedUpperCase, std::string("A\tB\rC\nD\0E\x1F"
                                               "F",
                                               10)}}},
    // Only the cleaned columns lose their separators; in the others a ";" starts a field of its own.
    {"separators",
     "x;y,z.w",
     {{Cleaning::AsStored, "x;y,z.w"}, {Cleaning::Cleaned, "x y z w"}, {Cleaning::CleanedUpperCase, "X Y Z W"}},
     {{Cleaning::AsStored, "x;y,z.w"}, {Cleaning::Cleaned, "x y z w"}, {Cleaning::CleanedUpperCase, "X Y Z W"}}},
    // One "?" per character, whatever its length in UTF-8 or UTF-16.
    {"outside Windows-1252",
     "漢字 😀 € ñ",
     {{Cleaning::AsStored, "?? ? \x80 \xF1"},
      {Cleaning::Cleaned, "?? ? \x80 \xF1"},
      {Cleaning::CleanedUpperCase, "?? ? \x80 \xD1"}},
     {{Cleaning::AsStored, "漢字 😀 € ñ"},
      {Cleaning::Cleaned, "漢字 😀 € ñ"},
      {Cleaning::CleanedUpperCase, "漢字 😀 € Ñ"}}},
};

std::string txtLine(std::vector<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) line += field + ";";
    return line + "\r\n";
}

struct HostileText : ::testing::Test {
    HostileText() {
        form.file1 = std::unique_ptr<OutputFile>(file);
        form.G_SC = ";";
        form.G_TIPO_ARCHIVO = "TXT";
    }
    std::string txt(const FakeRecordset::Row& row) {
        file->Abandon();
        file->Open("/out/x.txt");
        Escribir_Linea(*file, FakeRecordset({row}), LineFormat{form.G_SC, form.G_SD, form.G_TIPO_ARCHIVO});
        return file->bytes();
    }

    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, "/app"};
    MemoryOutputFile* file = new MemoryOutputFile;
};

TEST_F(HostileText, EachMovementStaysOneTxtLine) {
    for (const Hostile& h : kHostile) {
        for (const Column& column : kColumns) {
            SCOPED_TRACE(std::string(h.name) + " in " + column.name);
            std::vector<std::string> fields = kFields;
            fields[column.field] = h.txt.at(column.cleaning);
            EXPECT_EQ(txt(withholding(column.name, h.text)), txtLine(fields));
        }
    }
}

TEST_F(HostileText, SeventyThousandCharactersAreWrittenWhole) {
    std::string text;
    while (text.size() < 70000) text += "Ab1 ";
    text += "z";
    for (const Column& column : kColumns) {
        SCOPED_TRACE(column.name);
        std::vector<std::string> fields = kFields;
        fields[column.field] = text;
        if (column.cleaning == Cleaning::CleanedUpperCase)
            for (char& c : fields[column.field]) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(txt(withholding(column.name, text)), txtLine(fields));
    }
}

// Rows written by the real stand-in, saved as a workbook and read back; then texts at and over a cell's limit.
TEST(HostileWorkbook, CellsHoldTheTextAsCleaned) {
    PlainControls controls;
    ScriptedMessageBoxes boxes;
    Form1 form{controls, boxes, "/app"};
    form.vExcelSheet = CreateObject("Excel.Sheet");
    std::int32_t row = 1;
    Escribir_Cabecera_XLS(*form.vExcelSheet, row);
    std::map<std::pair<int, int>, std::string> expected;
    for (const Hostile& h : kHostile) {
        for (const Column& column : kColumns) {
            Escribir_Fila_XLS(*form.vExcelSheet, FakeRecordset({withholding(column.name, h.text)}), row);
            expected[{row, column.cell}] = h.cell.at(column.cleaning);
            ++row;
        }
    }
    TempDir dir;
    const std::string path = (dir.path() / "hostile.xls").string();
    form.vExcelSheet->SaveAs(path);
    const void* handle = nullptr;
    ASSERT_EQ(freexl_open(path.c_str(), &handle), FREEXL_OK);
    ASSERT_EQ(freexl_select_active_worksheet(handle, 0), FREEXL_OK);
    for (const auto& [at, text] : expected) {
        FreeXL_CellValue value{};
        ASSERT_EQ(freexl_get_cell_value(handle, static_cast<unsigned>(at.first - 1),
                                        static_cast<unsigned short>(at.second - 1), &value),
                  FREEXL_OK);
        ASSERT_EQ(value.type, FREEXL_CELL_SST_TEXT) << "row " << at.first << ", column " << at.second;
        // libfreexl hands texts out as C strings: a NUL ends what it reports.
        EXPECT_EQ(value.value.text_value, text.substr(0, text.find('\0')))
            << "row " << at.first << ", column " << at.second;
    }
    freexl_close(handle);

    // A cell holds at most 32,767 characters: the longest text fits, a longer one is refused, never cut.
    const std::string longest(XlsApplication::MaxCellText, 'x');
    Escribir_Fila_XLS(*form.vExcelSheet, FakeRecordset({withholding("Per_Concepto", longest)}), row);
    for (const Column& column : kColumns) {
        SCOPED_TRACE(column.name);
        try {
            Escribir_Fila_XLS(*form.vExcelSheet, FakeRecordset({withholding(column.name, std::string(70000, 'x'))}),
                              row + 1);
            ADD_FAILURE() << "a 70,000-character text was accepted";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number(), RuntimeError::SpreadsheetError);
            EXPECT_EQ(e.Description(), "cannot set cell (" + std::to_string(row + 1) + ", " +
                                           std::to_string(column.cell) + "): the cell text exceeds 32,767 characters");
        }
    }
    const auto& cells = dynamic_cast<XlsApplication&>(form.vExcelSheet->Application()).cells();
    const auto last = cells.row(static_cast<std::uint32_t>(row - 1));
    ASSERT_EQ(last.size(), 12u);
    EXPECT_EQ(cells.text(last[6].text), std::u16string(XlsApplication::MaxCellText, u'x'));
}

}  // namespace

// The .xlsx workbook, which only the Linux build writes (libxlsxwriter): its last row, read back with libgsf's zip
// reader.
#include "runtime/RuntimeError.h"
#include "support/TestFiles.h"
#include "support/WorkbookReader.h"
#include "workbook/XlsxWorkbook.h"

#include <gtest/gtest.h>

namespace {

TEST(XlsxWorkbook, TheLastRowHoldsACell) {
    ASSERT_TRUE(XlsxWorkbook::offered());
    TempDir dir;
    const std::filesystem::path path = dir.path() / "last.xlsx";
    const std::unique_ptr<ExcelSheet> sheet = XlsxWorkbook::create(path.string());
    sheet->Application().setCell(1, 1, Value::text("first"));
    sheet->Application().setCell(1048576, 2, Value::real(1.5));
    EXPECT_THROW(sheet->Application().setCell(1048577, 1, Value::real(1)), RuntimeError);
    sheet->SaveAs(path.string());
    const ReadBook book = readXlsx(path);
    EXPECT_EQ(book.rows, 1048576u);
    EXPECT_EQ(book.at(1, 1), Cell{"first"});
    EXPECT_EQ(book.at(1048576, 2), Cell{1.5});
}

}  // namespace

#include "support/WorkbookReader.h"

#include <freexl.h>
#include <gtest/gtest.h>

ReadBook readBook(const std::filesystem::path& path) {
    ReadBook book;
    const void* handle = nullptr;
    const int opened = freexl_open(path.c_str(), &handle);
    EXPECT_EQ(opened, FREEXL_OK) << path;
    if (opened == FREEXL_OK && freexl_select_active_worksheet(handle, 0) == FREEXL_OK) {
        const char* name = nullptr;
        freexl_get_worksheet_name(handle, 0, &name);
        book.sheetName = name;
        freexl_worksheet_dimensions(handle, &book.rows, &book.columns);
        freexl_get_info(handle, FREEXL_BIFF_STRING_COUNT, &book.strings);
        for (unsigned r = 0; r < book.rows; ++r) {
            for (unsigned short c = 0; c < book.columns; ++c) {
                FreeXL_CellValue v{};
                freexl_get_cell_value(handle, r, c, &v);
                if (v.type == FREEXL_CELL_DOUBLE)
                    book.cells[{r + 1, c + 1}] = v.value.double_value;
                else if (v.type == FREEXL_CELL_SST_TEXT)
                    book.cells[{r + 1, c + 1}] = v.value.text_value;
                else if (v.type != FREEXL_CELL_NULL)
                    book.cells[{r + 1, c + 1}] = "type " + std::to_string(v.type);
            }
        }
    }
    freexl_close(handle);
    return book;
}

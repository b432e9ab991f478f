// xls_cells FILE.XLS: prints what libfreexl reads of a workbook's first sheet, one line each: its name, its size,
// its shared strings' count, then every cell that is not empty ("row<TAB>column<TAB>text" or a number written
// exactly, in hexadecimal). scripts/compare-builds.sh compares two builds' workbooks with it when their compound
// files differ (Linux's libgsf and Windows's structured storage lay the same stream out differently).
#include <freexl.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: xls_cells ARCHIVO.XLS\n");
        return 2;
    }
    const void* handle = nullptr;
    if (freexl_open(argv[1], &handle) != FREEXL_OK || freexl_select_active_worksheet(handle, 0) != FREEXL_OK) {
        std::fprintf(stderr, "xls_cells: libfreexl no puede leer %s\n", argv[1]);
        freexl_close(handle);
        return 1;
    }
    const char* name = nullptr;
    unsigned rows = 0, strings = 0;
    unsigned short columns = 0;
    freexl_get_worksheet_name(handle, 0, &name);
    freexl_worksheet_dimensions(handle, &rows, &columns);
    freexl_get_info(handle, FREEXL_BIFF_STRING_COUNT, &strings);
    std::printf("sheet\t%s\nsize\t%u\t%u\nstrings\t%u\n", name ? name : "", rows, unsigned(columns), strings);
    for (unsigned r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue v{};
            freexl_get_cell_value(handle, r, c, &v);
            if (v.type == FREEXL_CELL_DOUBLE)
                std::printf("%u\t%u\t%a\n", r + 1, unsigned(c) + 1, v.value.double_value);
            else if (v.type == FREEXL_CELL_INT)
                std::printf("%u\t%u\t%d\n", r + 1, unsigned(c) + 1, v.value.int_value);
            else if (v.type == FREEXL_CELL_NULL)
                continue;
            else if (v.value.text_value != nullptr)
                std::printf("%u\t%u\t%s\n", r + 1, unsigned(c) + 1, v.value.text_value);
            else
                std::printf("%u\t%u\ttype %d\n", r + 1, unsigned(c) + 1, v.type);
        }
    }
    freexl_close(handle);
    return 0;
}

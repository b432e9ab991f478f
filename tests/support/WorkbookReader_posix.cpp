#include "support/WorkbookReader.h"

#include <freexl.h>
#include <gsf/gsf-infile-zip.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-utils.h>
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace {

// A cell's text as XML holds it: libxlsxwriter escapes "<", ">" and "&".
std::string unescapeXml(std::string text) {
    for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::strlen(entity), character);
    return text;
}

}  // namespace

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

// The first sheet of an .xlsx read with libgsf's zip reader, its cells parsed from the sheet's XML.
ReadBook readXlsx(const std::filesystem::path& path) {
    gsf_init();
    GsfInput* file = gsf_input_stdio_new(path.c_str(), nullptr);
    GsfInfile* zip = file != nullptr ? gsf_infile_zip_new(file, nullptr) : nullptr;
    GsfInput* sheet =
        zip != nullptr ? gsf_infile_child_by_vname(zip, "xl", "worksheets", "sheet1.xml", nullptr) : nullptr;
    EXPECT_NE(sheet, nullptr) << path;
    std::string xml(sheet != nullptr ? gsf_input_size(sheet) : 0, '\0');
    if (sheet != nullptr) gsf_input_read(sheet, xml.size(), reinterpret_cast<guint8*>(xml.data()));
    for (GObject* object : {G_OBJECT(sheet), G_OBJECT(zip), G_OBJECT(file)})
        if (object != nullptr) g_object_unref(object);
    ReadBook book;
    static const std::regex cell(
        R"re(<c r="([A-Z]+)(\d+)"[^>]*>(?:<v>([^<]*)</v>|<is><t[^>]*>([^<]*)</t></is>)</c>)re");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), cell); it != std::sregex_iterator(); ++it) {
        unsigned column = 0;
        for (char letter : (*it)[1].str()) column = column * 26 + static_cast<unsigned>(letter - 'A' + 1);
        const auto row = static_cast<unsigned>(std::stoul((*it)[2]));
        book.cells[{row, column}] = (*it)[3].matched ? Cell{std::stod((*it)[3])} : Cell{unescapeXml((*it)[4])};
        book.rows = std::max(book.rows, row);
    }
    return book;
}

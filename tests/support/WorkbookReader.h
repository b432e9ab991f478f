#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <variant>

// A cell as read back: empty, a number or a UTF-8 text.
using Cell = std::variant<std::monostate, double, std::string>;

// A saved workbook as a reader other than the program reads it: its first sheet's name and size, the shared string
// count and the non-empty cells by (row, column) counted from 1.
struct ReadBook {
    std::string sheetName;
    unsigned rows = 0;
    unsigned short columns = 0;
    unsigned strings = 0;
    std::map<std::pair<unsigned, unsigned>, Cell> cells;

    Cell at(unsigned row, unsigned column) const {
        const auto it = cells.find({row, column});
        return it == cells.end() ? Cell{} : it->second;
    }
};

// Reads the first sheet of a saved .XLS workbook: with libfreexl on Linux; on Windows, which has no libfreexl, its
// stream through the system's structured storage, its records decoded by the test (WorkbookReader_windows.cpp). A
// file that cannot be read fails the test.
ReadBook readBook(const std::filesystem::path& path);
// Reads the first sheet of an .xlsx with libgsf's zip reader, its cells parsed from the sheet's XML; its rows are
// the last row holding a cell. Linux only, where the program writes .xlsx.
ReadBook readXlsx(const std::filesystem::path& path);
// The stream "Workbook" of the compound file at `path`, read through the system's structured storage; empty when
// there is none. Windows only.
std::string workbookStream(const std::filesystem::path& path);

#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A report of a batch of exports, as the window of every taxpayer saves its table: what was asked, then one row
// per taxpayer.
struct BatchReport {
    std::string desde;  // the range
    std::string hasta;
    std::string format;   // the format as the window names it
    std::string options;  // the options chosen, in the user's words
    std::string madeAt;   // when the table was made, as the user reads a date and time
    std::string filter;   // which rows of the table the report holds
    std::string totals;   // what the exports came to (BatchTotals::describe)

    struct Row {
        std::string reference;
        std::string name;
        std::int64_t movements = 0;
        std::string result;
        std::string cuit;
    };
    std::vector<Row> rows;
};

// What a run was asked beside its range and format, in the user's words, for the report.
std::string reportOptions(bool replace, bool check, const std::string& folder);
// Which rows of the table a report holds, in the user's words.
std::string reportRows(bool onlyProblems);

// Saves `report` at `path`: as CSV (fields between quotes, separated by ";", in Windows-1252 with CR LF line ends,
// as the program's CSV files) or, when `path` ends in ".xlsx", as a workbook, which only a build that writes .xlsx
// (XlsxWorkbook::offered(): Linux's) can save; elsewhere such a path raises RuntimeError saying so, and nothing is
// written. The file takes the place of `path` only once wholly written. Raises RuntimeError when it cannot be
// written.
void saveBatchReport(const BatchReport& report, const std::string& path);

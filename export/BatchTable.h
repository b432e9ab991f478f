#pragma once

#include "export/BatchExport.h"
#include "export/BatchReport.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The table of the window of every taxpayer, whatever its toolkit: one row per taxpayer of the batch, in the list's
// order, with the result of its export once it has ended, and what each cell shows.
class BatchTable {
public:
    enum Column { Reference, Name, Movements, Result, Cuit, ColumnCount };
    static const char* heading(Column column);

    // A row per taxpayer, none with a result yet.
    void reset(std::vector<BatchTaxpayer> taxpayers);
    void setResult(std::size_t row, TaxpayerResult result);
    // Rows without a result say that their taxpayer was not exported.
    void markNotExported();

    std::size_t size() const noexcept { return m_rows.size(); }
    const BatchTaxpayer& taxpayer(std::size_t row) const { return m_rows[row].taxpayer; }
    const std::optional<TaxpayerResult>& result(std::size_t row) const { return m_rows[row].result; }

    // What a cell shows: counts as the user reads them, a written file by its name (its folder is the same for
    // all), the first CUIT problem and how many more.
    std::string cell(std::size_t row, Column column) const;
    // The whole of a cell: its result with the file's path, every CUIT problem. For tooltips and the report.
    std::string wholeCell(std::size_t row, Column column) const;
    // The export did not end as asked, a CUIT has a problem, or the reference is shared.
    bool problem(std::size_t row) const;
    // The file the row's export wrote; empty when it wrote none.
    std::string writtenFile(std::size_t row) const;
    // Whether row `a` comes before row `b` when the table is sorted by `column` in ascending order: names in the
    // list's order (Jet's order of text), movements as numbers, the rest by their text.
    bool before(std::size_t a, std::size_t b, Column column) const;
    // The row as the saved report holds it.
    BatchReport::Row reportRow(std::size_t row) const;

private:
    struct Row {
        BatchTaxpayer taxpayer;
        std::optional<TaxpayerResult> result;
        bool notExported = false;
    };
    std::vector<Row> m_rows;
};

#pragma once

#include "export/BatchExport.h"
#include "export/BatchTable.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>

#include <optional>
#include <vector>

// The table of the window of every taxpayer (BatchTable) as a Qt model. Numbers are shown as the user reads them and
// sorted as numbers; names are sorted in the list's order, which is Jet's order of text.
class BatchResultsModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        Reference = BatchTable::Reference,
        Name = BatchTable::Name,
        Movements = BatchTable::Movements,
        Result = BatchTable::Result,
        Cuit = BatchTable::Cuit,
        ColumnCount = BatchTable::ColumnCount
    };
    // A row's flags, for the filter and the double-click.
    static constexpr int ProblemRole = Qt::UserRole;  // bool: the export did not end as asked, or a CUIT is wrong
    static constexpr int WrittenFileRole = Qt::UserRole + 1;  // QString: the file written, if any
    static constexpr int SortRole = Qt::UserRole + 2;         // what the column is sorted by

    using QAbstractTableModel::QAbstractTableModel;

    // A row per taxpayer, none with a result yet.
    void reset(const std::vector<BatchTaxpayer>& taxpayers);
    // The results of the rows at `first` to `last`, which changed: told to the views at once.
    void setResult(std::size_t row, TaxpayerResult result);
    void resultsChanged(std::size_t first, std::size_t last);
    // Rows without a result say that their taxpayer was not exported.
    void markNotExported();

    const BatchTable& table() const noexcept { return m_table; }
    std::size_t taxpayers() const noexcept { return m_table.size(); }
    const std::optional<TaxpayerResult>& result(std::size_t row) const { return m_table.result(row); }
    const BatchTaxpayer& taxpayer(std::size_t row) const { return m_table.taxpayer(row); }
    // What a row holds in its result and CUIT columns, whole.
    QString resultText(std::size_t row) const;
    QString cuitText(std::size_t row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    BatchTable m_table;
};

// The table as the view shows it: sorted by any column, and, with "solo problemas", only the rows with a problem.
class BatchResultsFilter final : public QSortFilterProxyModel {
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setOnlyProblems(bool only);

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    bool m_onlyProblems = false;
};

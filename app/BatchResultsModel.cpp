#include "app/BatchResultsModel.h"

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

void BatchResultsModel::reset(const std::vector<BatchTaxpayer>& taxpayers) {
    beginResetModel();
    m_table.reset(taxpayers);
    endResetModel();
}

void BatchResultsModel::setResult(std::size_t row, TaxpayerResult result) { m_table.setResult(row, std::move(result)); }

void BatchResultsModel::resultsChanged(std::size_t first, std::size_t last) {
    if (first > last || last >= m_table.size()) return;
    emit dataChanged(index(int(first), 0), index(int(last), ColumnCount - 1));
}

void BatchResultsModel::markNotExported() {
    m_table.markNotExported();
    if (m_table.size() > 0) resultsChanged(0, m_table.size() - 1);
}

QString BatchResultsModel::resultText(std::size_t row) const {
    return text(m_table.wholeCell(row, BatchTable::Result));
}

QString BatchResultsModel::cuitText(std::size_t row) const { return text(m_table.wholeCell(row, BatchTable::Cuit)); }

int BatchResultsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_table.size()); }

int BatchResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant BatchResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= m_table.size()) return {};
    const auto row = std::size_t(index.row());
    const auto column = BatchTable::Column(index.column());
    switch (role) {
        case ProblemRole: return m_table.problem(row);
        case WrittenFileRole: return text(m_table.writtenFile(row));
        case SortRole:
            // The proxy sorts by these: a row's place in the list for names, numbers for movements.
            if (column == BatchTable::Name) return qulonglong(row);
            if (column == BatchTable::Movements)
                return m_table.result(row) ? QVariant(qlonglong(m_table.result(row)->movements)) : QVariant();
            return text(m_table.cell(row, column));
        case Qt::TextAlignmentRole:
            if (column == BatchTable::Movements) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return {};
        case Qt::DisplayRole: return text(m_table.cell(row, column));
        case Qt::ToolTipRole: {
            QString whole = text(m_table.wholeCell(row, column));
            return column == BatchTable::Cuit ? whole.replace(QStringLiteral("; "), QStringLiteral("\n")) : whole;
        }
        default: return {};
    }
}

QVariant BatchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
    return text(BatchTable::heading(BatchTable::Column(section)));
}

void BatchResultsFilter::setOnlyProblems(bool only) {
    m_onlyProblems = only;
    invalidateFilter();
}

bool BatchResultsFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    if (!m_onlyProblems) return true;
    return sourceModel()->index(row, 0, parent).data(BatchResultsModel::ProblemRole).toBool();
}

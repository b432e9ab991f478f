#include "app/BatchResultsModel.h"

#include "runtime/UserNumbers.h"

void BatchResultsModel::reset(const std::vector<BatchTaxpayer>& taxpayers) {
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(taxpayers.size());
    for (const BatchTaxpayer& taxpayer : taxpayers) m_rows.push_back({taxpayer, std::nullopt, false});
    endResetModel();
}

void BatchResultsModel::setResult(std::size_t row, TaxpayerResult result) {
    if (row < m_rows.size()) m_rows[row].result = std::move(result);
}

void BatchResultsModel::resultsChanged(std::size_t first, std::size_t last) {
    if (first > last || last >= m_rows.size()) return;
    emit dataChanged(index(int(first), 0), index(int(last), ColumnCount - 1));
}

void BatchResultsModel::markNotExported() {
    std::optional<std::size_t> first, last;
    for (std::size_t row = 0; row < m_rows.size(); ++row) {
        if (m_rows[row].result) continue;
        m_rows[row].notExported = true;
        if (!first) first = row;
        last = row;
    }
    if (first) resultsChanged(*first, *last);
}

QString BatchResultsModel::resultText(std::size_t row) const {
    const Row& r = m_rows[row];
    if (r.result) return QString::fromStdString(resultDescription(*r.result));
    return r.notExported ? QStringLiteral("No se exportó") : QString();
}

QString BatchResultsModel::cuitText(std::size_t row) const {
    return m_rows[row].result ? QString::fromStdString(cuitDescription(*m_rows[row].result)) : QString();
}

int BatchResultsModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int BatchResultsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant BatchResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= m_rows.size()) return {};
    const auto row = std::size_t(index.row());
    const Row& r = m_rows[row];
    if (role == ProblemRole) return (r.result && hasProblem(*r.result)) || !r.taxpayer.sharing.empty();
    if (role == WrittenFileRole)
        return r.result && r.result->outcome == BatchOutcome::Written ? QString::fromStdString(r.result->detail)
                                                                      : QString();
    if (role == SortRole) {
        if (index.column() == Name) return qulonglong(row);  // the list is in the names' order
        if (index.column() == Movements) return r.result ? QVariant(qlonglong(r.result->movements)) : QVariant();
        return data(index, Qt::DisplayRole);
    }
    if (role == Qt::TextAlignmentRole && index.column() == Movements)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    switch (index.column()) {
        case Reference: return QString::fromStdString(r.result ? r.result->reference : r.taxpayer.reference);
        case Name: {
            const std::string note = sharedReferenceNote(r.taxpayer);
            return QString::fromStdString(note.empty() ? r.taxpayer.name : r.taxpayer.name + " — " + note);
        }
        case Movements: return r.result ? QVariant(QString::fromStdString(userCount(r.result->movements))) : QVariant();
        case Result: {
            // The file's name is what tells one row from another; its folder is the same for all.
            if (role == Qt::DisplayRole && r.result &&
                (r.result->outcome == BatchOutcome::Written || r.result->outcome == BatchOutcome::Kept)) {
                const QString text = resultText(row), path = QString::fromStdString(r.result->detail);
                return text.left(text.size() - path.size()) + path.section(QLatin1Char('/'), -1);
            }
            return resultText(row);
        }
        case Cuit: {
            // A cell shows the first problem and how many more; its tooltip and the report show them all.
            if (!r.result || r.result->problems.empty()) return QString();
            if (role == Qt::ToolTipRole) return cuitText(row).replace(QStringLiteral("; "), QStringLiteral("\n"));
            TaxpayerResult first = *r.result;
            first.problems.resize(1);
            const std::size_t more = r.result->problems.size() - 1;
            return QString::fromStdString(cuitDescription(first) +
                                          (more == 0 ? "" : " y " + userCount(std::int64_t(more)) + " más"));
        }
        default: return {};
    }
}

QVariant BatchResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case Reference: return QStringLiteral("Contribuyente");
        case Name: return QStringLiteral("Nombre");
        case Movements: return QStringLiteral("Movimientos");
        case Result: return QStringLiteral("Resultado");
        case Cuit: return QStringLiteral("CUIT");
        default: return {};
    }
}

void BatchResultsFilter::setOnlyProblems(bool only) {
    m_onlyProblems = only;
    invalidateFilter();
}

bool BatchResultsFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    if (!m_onlyProblems) return true;
    return sourceModel()->index(row, 0, parent).data(BatchResultsModel::ProblemRole).toBool();
}

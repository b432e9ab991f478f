#include "export/BatchTable.h"

#include "runtime/UserNumbers.h"

const char* BatchTable::heading(Column column) {
    switch (column) {
        case Reference: return "Contribuyente";
        case Name: return "Nombre";
        case Movements: return "Movimientos";
        case Result: return "Resultado";
        case Cuit: return "CUIT";
        case ColumnCount: break;
    }
    return "";
}

void BatchTable::reset(std::vector<BatchTaxpayer> taxpayers) {
    m_rows.clear();
    m_rows.reserve(taxpayers.size());
    for (BatchTaxpayer& taxpayer : taxpayers) m_rows.push_back({std::move(taxpayer), std::nullopt, false});
}

void BatchTable::setResult(std::size_t row, TaxpayerResult result) {
    if (row < m_rows.size()) m_rows[row].result = std::move(result);
}

void BatchTable::markNotExported() {
    for (Row& row : m_rows)
        if (!row.result) row.notExported = true;
}

std::string BatchTable::wholeCell(std::size_t row, Column column) const {
    const Row& r = m_rows[row];
    switch (column) {
        case Reference: return r.result ? r.result->reference : r.taxpayer.reference;
        case Name: {
            const std::string note = sharedReferenceNote(r.taxpayer);
            return note.empty() ? r.taxpayer.name : r.taxpayer.name + " — " + note;
        }
        case Movements: return r.result ? userCount(r.result->movements) : std::string();
        case Result:
            if (r.result) return resultDescription(*r.result);
            return r.notExported ? "No se exportó" : "";
        case Cuit: return r.result ? cuitDescription(*r.result) : std::string();
        case ColumnCount: break;
    }
    return {};
}

std::string BatchTable::cell(std::size_t row, Column column) const {
    const Row& r = m_rows[row];
    if (column == Result && r.result &&
        (r.result->outcome == BatchOutcome::Written || r.result->outcome == BatchOutcome::Kept)) {
        const std::string text = wholeCell(row, column), &path = r.result->detail;
        const std::size_t separator = path.find_last_of("/\\");
        return text.substr(0, text.size() - path.size()) +
               (separator == std::string::npos ? path : path.substr(separator + 1));
    }
    if (column == Cuit && r.result && r.result->problems.size() > 1) {
        TaxpayerResult first = *r.result;
        first.problems.resize(1);
        return cuitDescription(first) + " y " + userCount(std::int64_t(r.result->problems.size() - 1)) + " más";
    }
    return wholeCell(row, column);
}

bool BatchTable::problem(std::size_t row) const {
    const Row& r = m_rows[row];
    return (r.result && hasProblem(*r.result)) || !r.taxpayer.sharing.empty();
}

std::string BatchTable::writtenFile(std::size_t row) const {
    const Row& r = m_rows[row];
    return r.result && r.result->outcome == BatchOutcome::Written ? r.result->detail : std::string();
}

BatchReport::Row BatchTable::reportRow(std::size_t row) const {
    const Row& r = m_rows[row];
    return {wholeCell(row, Reference), r.taxpayer.name, r.result ? r.result->movements : 0, wholeCell(row, Result),
            wholeCell(row, Cuit)};
}

bool BatchTable::before(std::size_t a, std::size_t b, Column column) const {
    switch (column) {
        case Name: return a < b;  // the list is in the names' order
        case Movements: {
            const auto movements = [&](std::size_t row) {
                return m_rows[row].result ? m_rows[row].result->movements : std::int64_t(-1);
            };
            return movements(a) < movements(b);
        }
        default: return cell(a, column) < cell(b, column);
    }
}

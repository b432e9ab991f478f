#include "source/QueryRecordset.h"

#include "runtime/RuntimeError.h"
#include "source/QueryEngine.h"

#include <algorithm>

QueryRecordset::QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head)
    : m_columns(std::move(columns)), m_head(std::move(head)) {
    shareSlots(m_columns->fieldSlots);
}

QueryRecordset::QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head,
                               std::shared_ptr<QueryEngine> engine, std::string shape,
                               std::unique_ptr<SqliteStatement> statement, int timeoutSeconds)
    : m_columns(std::move(columns)),
      m_head(std::move(head)),
      m_engine(std::move(engine)),
      m_shape(std::move(shape)),
      m_statement(std::move(statement)),
      m_timeout(timeoutSeconds),
      m_row(m_columns->names.size()),
      m_read(m_row.size(), 0) {
    shareSlots(m_columns->fieldSlots);
}

QueryRecordset::~QueryRecordset() { finish(); }

const Value& QueryRecordset::Fields(std::string_view name) const {
    // The name is looked up only for a current row: without one, the error says so whatever the name.
    if (isEOF()) [[unlikely]]
        noCurrentRow(name);
    return FieldAt(m_columns->column(name), name);
}

void QueryRecordset::noCurrentRow(std::string_view name) const {
    if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "the recordset is closed");
    throw RuntimeError(RuntimeError::DatabaseError, "no current record (reading " + std::string(name) + ")");
}

const Value& QueryRecordset::FieldAt(std::size_t column, std::string_view name) const {
    const bool inHead = !m_closed && m_position < m_head->size();
    if (!inHead && !(m_statement && !m_closed)) [[unlikely]]
        noCurrentRow(name);
    if (inHead) return (*m_head)[m_position][column];
    // Past the head, a column is read when it is first asked for.
    Value& value = m_row[column];
    if (!m_read[column]) {
        readColumn(m_statement->get(), int(column), m_columns->dates[column] != 0, value);
        m_read[column] = 1;
    }
    return value;
}

void QueryRecordset::MoveNext() {
    if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "no current record");
    if (m_position < m_head->size()) {
        ++m_position;
        return;
    }
    bool more = false;
    try {
        more = m_engine->step(m_statement->get(), m_timeout);
    } catch (...) {
        finish();
        throw;
    }
    if (more)
        std::fill(m_read.begin(), m_read.end(), 0);
    else
        finish();
}

void QueryRecordset::Close() {
    m_closed = true;
    m_head.reset();
    finish();
}

void QueryRecordset::finish() noexcept {
    if (m_statement) m_engine->giveBack(m_shape, std::move(m_statement));
    m_engine.reset();
}

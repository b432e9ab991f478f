#include "source/QueryRecordset.h"

#include "runtime/RuntimeError.h"
#include "source/QueryEngine.h"

#include <glib.h>

#include <algorithm>

QueryRecordset::QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head)
    : m_columns(std::move(columns)), m_head(std::move(head)) {}

QueryRecordset::QueryRecordset(std::shared_ptr<const QueryColumns> columns, std::shared_ptr<const QueryRows> head,
                               std::shared_ptr<QueryEngine> engine, std::string shape,
                               std::unique_ptr<SqliteStatement> statement, int timeoutSeconds, std::vector<Value> next)
    : m_columns(std::move(columns)),
      m_head(std::move(head)),
      m_engine(std::move(engine)),
      m_shape(std::move(shape)),
      m_statement(std::move(statement)),
      m_timeout(timeoutSeconds),
      m_row(std::move(next)),
      m_read(m_row.size(), 1) {}

QueryRecordset::~QueryRecordset() { finish(); }

const Value& QueryRecordset::Fields(std::string_view name) const {
    const bool inHead = !m_closed && m_position < m_head->size();
    if (!inHead && !(m_statement && !m_closed)) [[unlikely]] {
        if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "the recordset is closed");
        throw RuntimeError(RuntimeError::DatabaseError, "no current record (reading " + std::string(name) + ")");
    }
    const std::size_t column = columnOf(name);
    if (inHead) return (*m_head)[m_position][column];
    // Past the head, a column is read when it is first asked for.
    Value& value = m_row[column];
    if (!m_read[column]) {
        readColumn(m_statement->get(), int(column), m_columns->dates[column], value);
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

// Writers read a dozen fields per row; most names differ from the stored ones in ASCII case only, which is told
// without folding.
std::size_t QueryRecordset::columnOf(std::string_view name) const {
    // The writers ask for the same dozen names on every row, in the same order and mostly with literal texts: the
    // names found are remembered with where they were, and the one after the last found is tried first.
    const std::size_t count = m_found.size();
    const auto same = [&](const Found& found) { return found.at == name.data() && found.asked == name; };
    if (std::size_t next = m_lastFound + 1 < count ? m_lastFound + 1 : 0; next < count && same(m_found[next])) {
        m_lastFound = next;
        return m_found[next].column;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (m_found[i].asked == name) {
            m_lastFound = i;
            return m_found[i].column;
        }
    }
    const std::size_t column = findColumn(name);
    if (m_found.size() < 32) {
        m_found.push_back({name.data(), std::string(name), column});
        m_lastFound = m_found.size() - 1;
    }
    return column;
}

std::size_t QueryRecordset::findColumn(std::string_view name) const {
    const std::vector<std::string>& names = m_columns->names;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].size() == name.size() &&
            std::equal(name.begin(), name.end(), names[i].begin(),
                       [](char a, char b) { return g_ascii_tolower(a) == g_ascii_tolower(b); }))
            return i;
    const std::string folded = foldName(name);
    for (std::size_t i = 0; i < m_columns->folded.size(); ++i)
        if (m_columns->folded[i] == folded) return i;
    throw RuntimeError(RuntimeError::DatabaseError, "item not found in this collection: " + std::string(name));
}

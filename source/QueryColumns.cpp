#include "source/QueryColumns.h"

#include "source/JetTextOrder.h"

#include "runtime/RuntimeError.h"
#include "source/JetFunctions.h"

#include <glib.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

QueryColumns QueryColumns::of(sqlite3_stmt* stmt) {
    QueryColumns columns;
    const int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
        columns.names.emplace_back(sqlite3_column_name(stmt, i));
        columns.folded.push_back(foldName(columns.names.back()));
        const char* declared = sqlite3_column_decltype(stmt, i);
        columns.dates.push_back(declared && std::strncmp(declared, "DATETIME", 8) == 0 ? 1 : 0);
    }
    return columns;
}

// The column's value is read through sqlite3_column_value, as the connection is used by one thread only.
void readColumn(sqlite3_stmt* stmt, int i, bool date, Value& into) {
    sqlite3_value* value = sqlite3_column_value(stmt, i);
    switch (sqlite3_value_type(value)) {
        case SQLITE_NULL: into.setNull(); break;
        case SQLITE_INTEGER: into.setInteger(sqlite3_value_int64(value)); break;
        case SQLITE_FLOAT: {
            const double v = sqlite3_value_double(value);
            if (date)
                into.setDate(v);
            else
                into.setReal(v);
            break;
        }
        default: {
            // A text is UTF-8 as stored; read as bytes, it needs no terminating copy. Appended to the emptied text
            // rather than assigned, it skips the checks for an overlapping source.
            const auto* text = static_cast<const char*>(sqlite3_value_blob(value));
            into.setText().append(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
        }
    }
}

void readRow(sqlite3_stmt* stmt, const QueryColumns& columns, std::vector<Value>& row) {
    row.resize(columns.names.size());
    for (std::size_t i = 0; i < row.size(); ++i) readColumn(stmt, int(i), columns.dates[i] != 0, row[i]);
}

namespace {

std::uint64_t word(const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
}

// Whether two names are the same bytes. Names are short: they are compared eight bytes at a time, the last eight
// overlapping the ones before, without a call.
bool sameName(std::string_view a, std::string_view b) {
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    if (n < 8) return std::equal(a.begin(), a.end(), b.begin());
    for (std::size_t i = 0; i + 8 < n; i += 8)
        if (word(a.data() + i) != word(b.data() + i)) return false;
    return word(a.data() + n - 8) == word(b.data() + n - 8);
}

}  // namespace

std::size_t QueryColumns::column(std::string_view name) const {
    const std::size_t count = m_asked.size();
    const auto same = [&](const Asked& asked) { return asked.at == name.data() && sameName(asked.name, name); };
    if (std::size_t next = m_lastAsked + 1 < count ? m_lastAsked + 1 : 0; next < count && same(m_asked[next])) {
        m_lastAsked = next;
        return m_asked[next].column;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (m_asked[i].name == name) {
            m_lastAsked = i;
            return m_asked[i].column;
        }
    }
    const std::size_t found = find(name);
    if (m_asked.size() < 32) {
        m_asked.push_back({name.data(), std::string(name), found});
        m_lastAsked = m_asked.size() - 1;
    }
    return found;
}

// Most names differ from the stored ones in ASCII case only, which is told without folding.
std::size_t QueryColumns::find(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].size() == name.size() &&
            std::equal(name.begin(), name.end(), names[i].begin(),
                       [](char a, char b) { return g_ascii_tolower(a) == g_ascii_tolower(b); }))
            return i;
    const std::string key = foldName(name);
    for (std::size_t i = 0; i < folded.size(); ++i)
        if (folded[i] == key) return i;
    throw RuntimeError(RuntimeError::DatabaseError, "item not found in this collection: " + std::string(name));
}

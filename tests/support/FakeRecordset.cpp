#include "support/FakeRecordset.h"

#include "runtime/RuntimeError.h"

#include <glib.h>

#include <memory>

namespace {

std::string caseFolded(std::string_view name) {
    const std::unique_ptr<gchar, decltype(&g_free)> folded(
        g_utf8_casefold(name.data(), static_cast<gssize>(name.size())), &g_free);
    return folded.get();
}

}  // namespace

void FakeRecordset::checkOpen() const {
    if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "recordset used after Close");
}

bool FakeRecordset::isEOF() const {
    checkOpen();
    return m_current >= m_rows.size();
}

const Value& FakeRecordset::Fields(std::string_view name) const {
    if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "No current record");
    const std::string wanted = caseFolded(name);
    for (const auto& [fieldName, value] : m_rows[m_current])
        if (caseFolded(fieldName) == wanted) return value;
    throw RuntimeError(RuntimeError::DatabaseError, "Item not found in this collection: " + std::string(name));
}

void FakeRecordset::MoveNext() {
    if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "No current record");
    ++m_current;
}

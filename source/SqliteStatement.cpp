#include "source/SqliteStatement.h"

#include "runtime/RuntimeError.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3* db, const std::string& sql) {
    // On failure SQLite leaves the statement null: there is nothing to finalize.
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError, std::string("cannot run query: ") + sqlite3_errmsg(db));
}

SqliteStatement::~SqliteStatement() noexcept { sqlite3_finalize(m_stmt); }

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

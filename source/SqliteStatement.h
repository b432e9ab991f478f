#pragma once

#include <string>
#include <utility>

struct sqlite3;
struct sqlite3_stmt;

// A prepared SQLite statement, finalized by its owner.
class SqliteStatement {
public:
    // Prepares `sql` on `db`. Raises RuntimeError with SQLite's description when it cannot.
    SqliteStatement(sqlite3* db, const std::string& sql);
    ~SqliteStatement() noexcept;
    SqliteStatement(SqliteStatement&& other) noexcept : m_stmt(std::exchange(other.m_stmt, nullptr)) {}
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* get() const noexcept { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

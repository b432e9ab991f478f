#pragma once

#include <string>
#include <utility>

struct sqlite3;

// A SQLite connection, closed by its owner. The connection is opened without SQLite's own mutexes: it is used by
// one thread at a time.
class SqliteConnection {
public:
    // A database of its own in memory, which is all the query engine needs: the tables are virtual.
    static SqliteConnection inMemory();
    // Opens the database `name` with SQLite's open `flags` (SQLITE_OPEN_NOMUTEX is added). Raises RuntimeError when
    // SQLite cannot open it; the handle SQLite hands back even then is closed first.
    SqliteConnection(const std::string& name, int flags);
    ~SqliteConnection() noexcept;
    SqliteConnection(SqliteConnection&& other) noexcept : m_db(std::exchange(other.m_db, nullptr)) {}
    SqliteConnection& operator=(SqliteConnection&& other) noexcept;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    sqlite3* get() const noexcept { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

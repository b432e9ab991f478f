#include "source/SqliteConnection.h"

#include "runtime/RuntimeError.h"

#include <sqlite3.h>

SqliteConnection SqliteConnection::inMemory() {
    return SqliteConnection(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

namespace {

// SQLite counts the memory it holds under a lock of its own, taken for every allocation and free; nothing here reads
// the count. The setting only takes before SQLite starts: the first connection sets it, once, and when something
// else started SQLite first it stays as it was.
void configureOnce() noexcept {
    static const bool configured = [] { return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK; }();
    (void)configured;
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& name, int flags) {
    configureOnce();
    const int status = sqlite3_open_v2(name.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (status != SQLITE_OK) {
        // SQLite hands back a handle even when it fails to open (null only when it runs out of memory).
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw RuntimeError(RuntimeError::DatabaseError, "cannot start the query engine");
    }
}

SqliteConnection::~SqliteConnection() noexcept { sqlite3_close_v2(m_db); }

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
    if (this != &other) {
        sqlite3_close_v2(m_db);
        m_db = std::exchange(other.m_db, nullptr);
    }
    return *this;
}

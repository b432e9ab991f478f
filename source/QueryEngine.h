#pragma once

#include "source/JetFile.h"
#include "source/JetVirtualTable.h"
#include "source/LruCache.h"
#include "source/QueryColumns.h"
#include "source/SqliteConnection.h"
#include "source/SqliteStatement.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One reading of the file: the reader, the SQLite connection serving its tables, and the statements prepared on
// it, kept by query shape (the parameterised SQLite text) so that queries differing only in their constants share
// one. A recordset still being walked keeps its reading alive when the file changes and the database reads it
// afresh.
class QueryEngine {
public:
    // Opens the file and serves its tables. Raises RuntimeError when the file cannot be read.
    QueryEngine(const std::string& path, const std::string& password);
    QueryEngine(const QueryEngine&) = delete;
    QueryEngine& operator=(const QueryEngine&) = delete;

    const JetFile& file() const noexcept { return m_file; }
    // True once a read failed: what was read may be incomplete, or the file is being rewritten.
    bool broken() const noexcept { return m_broken; }

    // A statement of shape `shape` to run (an idle one, or one prepared now) and the shape's columns. Raises
    // RuntimeError when SQLite cannot prepare the text.
    struct Taken {
        std::unique_ptr<SqliteStatement> statement;
        std::shared_ptr<const QueryColumns> columns;
    };
    Taken take(const std::string& shape);
    // A statement walked to its end or abandoned, reset and kept for its shape's next query.
    void giveBack(const std::string& shape, std::unique_ptr<SqliteStatement> statement) noexcept;
    // The name of the hidden column of table `table` that computes the `&` chain of its columns `columns` (stored
    // spellings); nullopt when the table has none left, or does not have them.
    std::optional<std::string> chainColumn(const std::string& table, const std::vector<std::string>& columns);
    // One step of a statement, within the query time-out: true on a row, false at the end. A failure raises
    // RuntimeError with the reader's own description when it has one, and marks the engine broken.
    bool step(sqlite3_stmt* stmt, int timeoutSeconds);

private:
    // A query shape: its idle prepared statements (a shape walked inside a walk of the same shape needs a second
    // one) and its columns.
    struct Shape {
        std::vector<std::unique_ptr<SqliteStatement>> idle;
        std::shared_ptr<const QueryColumns> columns;
    };
    Shape& shape(const std::string& text);

    // Destroyed in reverse order: statements, then the connection, then the reader its tables use.
    JetFile m_file;
    JetVirtualTable::Source m_source;
    SqliteConnection m_sql;
    // Shapes by their parameterised SQLite text: an export runs a handful.
    static constexpr std::size_t kKeptShapes = 16;
    LruCache<std::string, Shape> m_shapes{kKeptShapes};
    // The steps run, the one whose clock is running, and its time-out and deadline.
    std::uint64_t m_step = 0;
    std::uint64_t m_timedStep = 0;
    int m_timeout = 0;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_broken = false;
};

#include "source/QueryEngine.h"

#include "runtime/RuntimeError.h"
#include "source/JetFunctions.h"

#include <sqlite3.h>

#include <algorithm>

QueryEngine::QueryEngine(const std::string& path, const std::string& password)
    : m_file(path, password), m_sql(SqliteConnection::inMemory()) {
    registerJetFunctions(m_sql.get());
    m_source.file = &m_file;
    JetVirtualTable::attach(m_sql.get(), m_source);
    // The connection only reads: one transaction for its whole life spares every statement starting and ending one
    // of its own. Should it fail to start, or end with an error, each statement has its own again.
    sqlite3_exec(m_sql.get(), "BEGIN", nullptr, nullptr, nullptr);
    // The query time-out bounds each step of a query; the engine checks it every few thousand operations. A step's
    // clock starts at its first check: most steps end before one, and a row costs no reading of the clock.
    sqlite3_progress_handler(
        m_sql.get(), 10000,
        [](void* engine) {
            QueryEngine& self = *static_cast<QueryEngine*>(engine);
            const auto now = std::chrono::steady_clock::now();
            if (self.m_timedStep != self.m_step) {
                self.m_timedStep = self.m_step;
                self.m_deadline = now + std::chrono::seconds(self.m_timeout);
            }
            return now > self.m_deadline ? 1 : 0;
        },
        this);
}

QueryEngine::Shape& QueryEngine::shape(const std::string& text) {
    if (Shape* kept = m_shapes.find(text)) return *kept;
    Shape shape;
    auto statement = std::make_unique<SqliteStatement>(m_sql.get(), text);
    shape.columns = std::make_shared<QueryColumns>(QueryColumns::of(statement->get()));
    shape.idle.reserve(2);  // giving a statement back never allocates
    shape.idle.push_back(std::move(statement));
    return m_shapes.insert(text, std::move(shape));
}

QueryEngine::Taken QueryEngine::take(const std::string& text) {
    Shape& kept = shape(text);
    if (kept.idle.empty()) return {std::make_unique<SqliteStatement>(m_sql.get(), text), kept.columns};
    auto statement = std::move(kept.idle.back());
    kept.idle.pop_back();
    return {std::move(statement), kept.columns};
}

void QueryEngine::giveBack(const std::string& text, std::unique_ptr<SqliteStatement> statement) noexcept {
    sqlite3_reset(statement->get());
    sqlite3_clear_bindings(statement->get());
    // Its shape may have been dropped meanwhile: the statement then goes too.
    Shape* kept = m_shapes.peek(text);
    if (kept && kept->idle.size() < 2) kept->idle.push_back(std::move(statement));
}

bool QueryEngine::step(sqlite3_stmt* stmt, int timeoutSeconds) {
    ++m_step;
    m_timeout = timeoutSeconds > 0 ? timeoutSeconds : 1 << 20;
    if (!m_source.lastError.empty()) m_source.lastError.clear();
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    m_broken = true;
    const std::string failure = m_source.lastError.empty() ? sqlite3_errmsg(m_sql.get()) : m_source.lastError;
    sqlite3_reset(stmt);
    if (rc == SQLITE_INTERRUPT) throw RuntimeError(RuntimeError::DatabaseError, "the query timed out");
    if (rc == SQLITE_NOMEM) throw std::bad_alloc();
    throw RuntimeError(RuntimeError::DatabaseError, failure);
}

std::optional<std::string> QueryEngine::chainColumn(const std::string& table, const std::vector<std::string>& columns) {
    const std::vector<JetTableInfo>& tables = m_file.tables();
    for (std::size_t t = 0; t < tables.size(); ++t) {
        if (tables[t].name != table) continue;
        std::vector<int> positions;
        for (const std::string& column : columns) {
            const auto& all = tables[t].columns;
            const auto it = std::find_if(all.begin(), all.end(), [&](const JetColumn& c) { return c.name == column; });
            if (it == all.end()) return std::nullopt;
            positions.push_back(int(it - all.begin()));
        }
        return JetVirtualTable::chainColumn(m_source, t, positions);
    }
    return std::nullopt;
}

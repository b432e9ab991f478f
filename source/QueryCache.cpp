#include "source/QueryCache.h"

#include "source/QueryEngine.h"
#include "source/QueryRecordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

// Texts are bound as texts; whole numbers as 64-bit integers, or as Doubles when they do not fit; numbers with a
// decimal point or an exponent as Doubles.
void QueryCache::bindConstants(sqlite3_stmt* stmt, const std::vector<JetConstant>& constants)
{
    for (std::size_t i = 0; i < constants.size(); ++i) {
        const JetConstant& constant = constants[i];
        const int n = static_cast<int>(i) + 1;
        if (constant.text) {
            sqlite3_bind_text(stmt, n, constant.value.data(), static_cast<int>(constant.value.size()), SQLITE_TRANSIENT);
        } else if (constant.value.find_first_of(".eE") == std::string::npos) {
            errno = 0;
            const long long v = std::strtoll(constant.value.c_str(), nullptr, 10);
            if (errno == ERANGE) sqlite3_bind_double(stmt, n, std::strtod(constant.value.c_str(), nullptr));
            else sqlite3_bind_int64(stmt, n, v);
        } else {
            sqlite3_bind_double(stmt, n, std::strtod(constant.value.c_str(), nullptr));
        }
    }
}

QueryCache::KeptQuery& QueryCache::query(const std::string& jetSql, const NameResolver& resolve,
                                      const TableLookup& tables)
{
    if (auto it = m_queries.find(jetSql); it != m_queries.end()) {
        m_recentQueries.splice(m_recentQueries.begin(), m_recentQueries, it->second.recent);
        return it->second;
    }
    KeptQuery query;
    // Queries that differ only in their constants share one translation, and one shape.
    JetLexed lexed = lexJetSql(jetSql);
    auto known = m_translations.find(lexed.key);
    if (known == m_translations.end()) {
        SqliteTranslation translation = translateJet(lexed, resolve, tables, true);
        if (m_translations.size() > 256) m_translations.clear();
        known = m_translations.emplace(std::move(lexed.key), std::move(translation)).first;
    }
    query.shape = known->second.sql;
    query.constants.reserve(known->second.parameters.size());
    for (const std::uint32_t constant : known->second.parameters)
        query.constants.push_back(std::move(lexed.constants[constant]));
    while (m_queries.size() >= kKeptQueries) drop(m_recentQueries.back());
    m_recentQueries.push_front(jetSql);
    query.recent = m_recentQueries.begin();
    return m_queries.emplace(jetSql, std::move(query)).first->second;
}

void QueryCache::drop(const std::string& jetSql)
{
    const auto it = m_queries.find(jetSql);
    if (it == m_queries.end()) return;
    if (it->second.rows) release(it->second);
    m_recentQueries.erase(it->second.recent);
    m_queries.erase(it);
}

void QueryCache::release(KeptQuery& query) noexcept
{
    m_keptValues -= query.rows->size() * query.columns->names.size();
    query.rows.reset();
    m_keptRows.erase(query.kept);
}

// Keeps a query's rows while they fit, making room among the least recently used.
void QueryCache::keep(KeptQuery& query, const std::shared_ptr<const QueryRows>& rows)
{
    const std::size_t values = rows->size() * query.columns->names.size();
    if (values > kKeptValues / 4) return;
    while (m_keptValues + values > kKeptValues && !m_keptRows.empty()) release(*m_keptRows.back());
    query.rows = rows;
    m_keptRows.push_front(&query);
    query.kept = m_keptRows.begin();
    m_keptValues += values;
}

std::unique_ptr<Recordset> QueryCache::open(const std::string& jetSql, const std::shared_ptr<QueryEngine>& engine,
                                        const NameResolver& resolve, const TableLookup& tables, int timeoutSeconds)
{
    KeptQuery& query = this->query(jetSql, resolve, tables);
    if (query.rows) {
        // Kept rows used again move to the front of those kept.
        m_keptRows.splice(m_keptRows.begin(), m_keptRows, query.kept);
        return std::make_unique<QueryRecordset>(query.columns, query.rows);
    }
    QueryEngine::Taken taken = engine->take(query.shape);
    query.columns = std::move(taken.columns);
    std::unique_ptr<SqliteStatement> statement = std::move(taken.statement);
    sqlite3_stmt* stmt = statement->get();
    bindConstants(stmt, query.constants);
    const QueryColumns& columns = *query.columns;
    const std::size_t width = std::max<std::size_t>(columns.names.size(), 1);
    auto head = std::make_shared<QueryRows>();
    std::vector<Value> next;
    bool more = false;
    try {
        while (engine->step(stmt, timeoutSeconds)) {
            if (head->size() * width >= kHeadValues) {
                readRow(stmt, columns, next);
                more = true;
                break;
            }
            readRow(stmt, columns, head->emplace_back());
        }
    } catch (...) {
        engine->giveBack(query.shape, std::move(statement));
        throw;
    }
    if (more)
        return std::make_unique<QueryRecordset>(query.columns, std::move(head), engine, query.shape,
                                                std::move(statement), timeoutSeconds, std::move(next));
    engine->giveBack(query.shape, std::move(statement));
    keep(query, head);
    return std::make_unique<QueryRecordset>(query.columns, std::move(head));
}

void QueryCache::clear() noexcept
{
    m_queries.clear();
    m_recentQueries.clear();
    m_keptRows.clear();
    m_translations.clear();
    m_keptValues = 0;
}

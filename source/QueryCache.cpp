#include "source/QueryCache.h"

#include "runtime/Numeric.h"
#include "source/QueryEngine.h"
#include "source/QueryRecordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>

// Texts are bound as texts; whole numbers as 64-bit integers, or as Doubles when they do not fit; numbers with a
// decimal point or an exponent as Doubles.
void QueryCache::bindConstants(sqlite3_stmt* stmt, const std::vector<JetConstant>& constants) {
    for (std::size_t i = 0; i < constants.size(); ++i) {
        const JetConstant& constant = constants[i];
        const int n = static_cast<int>(i) + 1;
        if (constant.text) {
            const auto size = static_cast<int>(constant.value.size());
            sqlite3_bind_text(stmt, n, constant.value.data(), size, SQLITE_TRANSIENT);
            continue;
        }
        // Neither reading depends on the locale the window set for the process; a number beyond a Double's range
        // raises Overflow.
        const char* const first = constant.value.data();
        long long whole = 0;
        if (constant.value.find_first_of(".eE") == std::string::npos &&
            std::from_chars(first, first + constant.value.size(), whole).ec == std::errc())
            sqlite3_bind_int64(stmt, n, whole);
        else
            sqlite3_bind_double(stmt, n, textToDouble(constant.value));
    }
}

QueryCache::KeptQuery QueryCache::keptQuery(const Translated& translated, std::vector<JetConstant>& constants) const {
    KeptQuery query{translated.translation.sql, {}};
    query.constants.reserve(translated.translation.parameters.size());
    for (const std::uint32_t constant : translated.translation.parameters)
        query.constants.push_back(std::move(constants[constant]));
    return query;
}

// The query kept for `jetSql` (whose hash is `hash`), or one made now.
const QueryCache::KeptQuery& QueryCache::query(const std::string& jetSql, std::size_t hash, const NameResolver& resolve,
                                               const TableLookup& tables, const ChainLookup& chains) {
    if (const KeptQuery* kept = m_queries.find(jetSql, hash)) return *kept;
    // Queries that differ only in their constants share one translation, and one shape. An export runs a few shapes
    // again and again with other keys: a text is first compared with the shapes last used.
    for (std::size_t i = 0; i < m_recent.size(); ++i) {
        if (!matchJetPattern(m_recent[i]->pattern, jetSql, m_constants)) continue;
        std::rotate(m_recent.begin(), m_recent.begin() + std::ptrdiff_t(i), m_recent.begin() + std::ptrdiff_t(i) + 1);
        return m_queries.insert(jetSql, hash, keptQuery(*m_recent.front(), m_constants));
    }
    JetLexed lexed = lexJetSql(jetSql);
    const std::shared_ptr<const Translated>* kept = m_translations.find(lexed.key);
    if (!kept) {
        auto translated = std::make_shared<const Translated>(
            Translated{translateJet(lexed, resolve, tables, true, chains), patternOf(lexed)});
        kept = &m_translations.insert(std::move(lexed.key), std::move(translated));
    }
    // The last used first, one entry per translation.
    const auto known = std::find(m_recent.begin(), m_recent.end(), *kept);
    if (known != m_recent.end())
        std::rotate(m_recent.begin(), known, known + 1);
    else {
        if (m_recent.size() == kTriedPatterns) m_recent.pop_back();
        m_recent.insert(m_recent.begin(), *kept);
    }
    return m_queries.insert(jetSql, hash, keptQuery(**kept, lexed.constants));
}

std::unique_ptr<Recordset> QueryCache::open(const std::string& jetSql, const std::shared_ptr<QueryEngine>& engine,
                                            const NameResolver& resolve, const TableLookup& tables,
                                            const ChainLookup& chains, int timeoutSeconds) {
    // One hash of the text serves both caches kept by it.
    const std::size_t hash = m_results.hashOf(jetSql);
    if (const KeptResult* kept = m_results.find(jetSql, hash))
        return std::make_unique<QueryRecordset>(kept->columns, kept->rows);
    const KeptQuery& query = this->query(jetSql, hash, resolve, tables, chains);
    QueryEngine::Taken taken = engine->take(query.shape);
    std::unique_ptr<SqliteStatement> statement = std::move(taken.statement);
    sqlite3_stmt* stmt = statement->get();
    bindConstants(stmt, query.constants);
    const QueryColumns& columns = *taken.columns;
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
        return std::make_unique<QueryRecordset>(std::move(taken.columns), std::move(head), engine, query.shape,
                                                std::move(statement), timeoutSeconds, std::move(next));
    engine->giveBack(query.shape, std::move(statement));
    const std::size_t values = head->size() * columns.names.size();
    if (values <= kKeptValues / 4) m_results.insert(jetSql, hash, {taken.columns, head}, values);
    return std::make_unique<QueryRecordset>(std::move(taken.columns), std::move(head));
}

void QueryCache::clear() noexcept {
    m_results.clear();
    m_recent.clear();
    m_queries.clear();
    m_translations.clear();
}

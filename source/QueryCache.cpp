#include "source/QueryCache.h"

#include "runtime/Numeric.h"
#include "source/QueryEngine.h"
#include "source/QueryRecordset.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>

// Texts are bound as texts; whole numbers as 64-bit integers, or as Doubles when they do not fit; numbers with a
// decimal point or an exponent as Doubles.
void QueryCache::bindConstants(sqlite3_stmt* stmt, const Translated& translated,
                               const std::vector<JetConstant>& constants) {
    const std::vector<std::uint32_t>& parameters = translated.translation.parameters;
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const JetConstant& constant = constants[parameters[i]];
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

// The translation of `jetSql`, its constants left in m_constants.
const QueryCache::Translated& QueryCache::query(const std::string& jetSql, const NameResolver& resolve,
                                                const TableLookup& tables, const ChainLookup& chains) {
    // Queries that differ only in their constants share one translation, and one shape. An export runs a few shapes
    // again and again with other keys: a text is first compared with the shapes last used.
    for (std::size_t i = 0; i < m_recent.size(); ++i) {
        if (!matchJetPattern(m_recent[i]->pattern, jetSql, m_constants)) continue;
        std::rotate(m_recent.begin(), m_recent.begin() + std::ptrdiff_t(i), m_recent.begin() + std::ptrdiff_t(i) + 1);
        return *m_recent.front();
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
    if (known != m_recent.end()) {
        std::rotate(m_recent.begin(), known, known + 1);
    } else {
        if (m_recent.size() == kTriedPatterns) m_recent.pop_back();
        m_recent.insert(m_recent.begin(), *kept);
    }
    m_constants = std::move(lexed.constants);
    return **kept;
}

std::unique_ptr<Recordset> QueryCache::open(const std::string& jetSql, const std::shared_ptr<QueryEngine>& engine,
                                            const NameResolver& resolve, const TableLookup& tables,
                                            const ChainLookup& chains, int timeoutSeconds, bool keep) {
    const std::size_t hash = keep ? m_results.hashOf(jetSql) : 0;
    if (const KeptResult* kept = keep ? m_results.find(jetSql, hash) : nullptr)
        return std::make_unique<QueryRecordset>(kept->columns, kept->rows);
    const Translated& query = this->query(jetSql, resolve, tables, chains);
    const std::string& shape = query.translation.sql;
    QueryEngine::Taken taken = engine->take(shape);
    std::unique_ptr<SqliteStatement> statement = std::move(taken.statement);
    sqlite3_stmt* stmt = statement->get();
    bindConstants(stmt, query, m_constants);
    const QueryColumns& columns = *taken.columns;
    const std::size_t width = std::max<std::size_t>(columns.names.size(), 1);
    auto head = std::make_shared<QueryRows>();
    bool more = false;
    try {
        while (engine->step(stmt, timeoutSeconds)) {
            if (!keep || head->size() * width >= kHeadValues) {
                more = true;
                break;
            }
            readRow(stmt, columns, head->emplace_back());
        }
    } catch (...) {
        engine->giveBack(shape, std::move(statement));
        throw;
    }
    if (more)
        return std::make_unique<QueryRecordset>(std::move(taken.columns), std::move(head), engine, shape,
                                                std::move(statement), timeoutSeconds);
    engine->giveBack(shape, std::move(statement));
    const std::size_t values = head->size() * columns.names.size();
    if (keep && values <= kKeptValues / 4) m_results.insert(jetSql, hash, {taken.columns, head}, values);
    return std::make_unique<QueryRecordset>(std::move(taken.columns), std::move(head));
}

void QueryCache::clear() noexcept {
    m_results.clear();
    m_recent.clear();
    m_translations.clear();
}

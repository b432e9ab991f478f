#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"
#include "source/JetTranslator.h"
#include "source/LruCache.h"
#include "source/QueryColumns.h"

#include <memory>
#include <string>
#include <vector>

class QueryEngine;
class Recordset;

// What one reading of the file keeps of the queries run on it: each query text's translation (shared by the texts
// that differ only in their constants) and, for a short result, its rows. Everything is dropped with the reading.
class QueryCache {
public:
    // The rows of `jetSql` on `engine`: kept rows when the same text ran before and its result was kept, else the
    // result of running its translation (names resolved by `resolve`, tables known from `tables`) with its
    // constants, read whole when short and kept, read as it is walked when long. Without `keep`, no result is
    // looked for or kept, and every result is read as it is walked. Raises RuntimeError when the text cannot be
    // translated or run.
    std::unique_ptr<Recordset> open(const std::string& jetSql, const std::shared_ptr<QueryEngine>& engine,
                                    const NameResolver& resolve, const TableLookup& tables, const ChainLookup& chains,
                                    int timeoutSeconds, bool keep);
    void clear() noexcept;

private:
    // The rows of a short result.
    struct KeptResult {
        std::shared_ptr<const QueryColumns> columns;
        std::shared_ptr<const QueryRows> rows;
    };

    // A translation (its SQL is the shape: the parameterised SQLite text, whose statements the texts differing only
    // in their constants share) with the pattern of the text it was made from.
    struct Translated {
        SqliteTranslation translation;
        JetPattern pattern;
    };

    const Translated& query(const std::string& jetSql, const NameResolver& resolve, const TableLookup& tables,
                            const ChainLookup& chains);
    static void bindConstants(sqlite3_stmt* stmt, const Translated& translated,
                              const std::vector<JetConstant>& constants);

    // How many results and translations are kept, how many values the kept results may hold in all (a few
    // megabytes), and how many values a query reads when it opens: a result that fits is read whole and may be
    // kept, unless it would take more than a quarter of what results may hold; a longer one is read on as it is
    // walked.
    static constexpr std::size_t kKeptResults = 2048;
    static constexpr std::size_t kKeptTranslations = 256;
    static constexpr std::size_t kKeptValues = 30000;
    static constexpr std::size_t kHeadValues = 1024;
    // How many of the translations last used a new text is compared with, as their pattern, before it is read.
    static constexpr std::size_t kTriedPatterns = 8;

    // By the Jet text's key; the last used first in m_recent.
    LruCache<std::string, std::shared_ptr<const Translated>> m_translations{kKeptTranslations};
    std::vector<std::shared_ptr<const Translated>> m_recent;
    std::vector<JetConstant> m_constants;                                    // a text's constants, as read
    LruCache<std::string, KeptResult> m_results{kKeptResults, kKeptValues};  // by the query's Jet text
};

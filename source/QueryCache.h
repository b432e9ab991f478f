#pragma once

#include "source/JetLexer.h"
#include "source/JetSql.h"
#include "source/JetTranslator.h"
#include "source/QueryColumns.h"

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class QueryEngine;
class Recordset;

// What one reading of the file keeps of the queries run on it: each query text's translation (shared by the texts
// that differ only in their constants) and, for a short result, its rows. Everything is dropped with the reading.
class QueryCache {
public:
    // The rows of `jetSql` on `engine`: kept rows when the same text ran before and its result was kept, else the
    // result of running its translation (names resolved by `resolve`, tables known from `tables`) with its
    // constants, read whole when short and kept, read as it is walked when long. Raises RuntimeError when the text
    // cannot be translated or run.
    std::unique_ptr<Recordset> open(const std::string& jetSql, const std::shared_ptr<QueryEngine>& engine,
                                    const NameResolver& resolve, const TableLookup& tables, int timeoutSeconds);
    void clear() noexcept;

private:
    // One query text: its shape (the parameterised SQLite text, whose statements queries differing only in their
    // constants share), the constants its parameters take and, when small, its rows.
    struct KeptQuery {
        std::string shape;
        std::vector<JetConstant> constants;
        std::shared_ptr<const QueryColumns> columns;
        std::shared_ptr<const QueryRows> rows;
        std::list<std::string>::iterator recent;
        std::list<KeptQuery*>::iterator kept;  // in m_keptRows while `rows` is held
    };

    KeptQuery& query(const std::string& jetSql, const NameResolver& resolve, const TableLookup& tables);
    void drop(const std::string& jetSql);
    void release(KeptQuery& query) noexcept;
    void keep(KeptQuery& query, const std::shared_ptr<const QueryRows>& rows);
    static void bindConstants(sqlite3_stmt* stmt, const std::vector<JetConstant>& constants);

    // How many query texts are kept, how many values their kept rows may hold in all (a few megabytes), and how
    // many values a query reads when it opens: a result that fits is read whole and may be kept, a longer one is
    // read on as it is walked.
    static constexpr std::size_t kKeptQueries = 2048;
    static constexpr std::size_t kKeptValues = 30000;
    static constexpr std::size_t kHeadValues = 512;

    std::unordered_map<std::string, KeptQuery> m_queries;  // by the query's Jet text
    std::list<std::string> m_recentQueries;                // most recently used first
    std::list<KeptQuery*> m_keptRows;                      // queries holding rows, most recently used first
    // Translations with parameters, by the key of the Jet text.
    std::unordered_map<std::string, SqliteTranslation> m_translations;
    std::size_t m_keptValues = 0;
};

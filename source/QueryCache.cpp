#include "source/QueryCache.h"

#include "source/QueryEngine.h"
#include "source/QueryRecordset.h"

#include <glib.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

bool isDecimal(std::string_view t)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
        return i > start;
    };
    if (!digits()) return false;
    if (i < t.size() && t[i] == '.') {
        ++i;
        digits();
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == t.size();
}

// Character classes of query text, as the C locale has them; bytes of UTF-8 sequences belong to words.
enum : unsigned char { kWord = 1, kDigit = 2, kSpace = 4 };
constexpr std::array<unsigned char, 256> kCharClass = [] {
    std::array<unsigned char, 256> classes{};
    for (int c = 0; c < 256; ++c) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (digit) classes[std::size_t(c)] |= kDigit;
        if (digit || letter || c == '_' || c >= 0x80) classes[std::size_t(c)] |= kWord;
        if (c == ' ' || (c >= '\t' && c <= '\r')) classes[std::size_t(c)] |= kSpace;
    }
    return classes;
}();

bool charIs(char c, unsigned char classes) { return (kCharClass[static_cast<unsigned char>(c)] & classes) != 0; }

}  // namespace

// Takes the text and number constants out of a query, in order, and writes in their place `?` (the translated
// SQLite text, ready to bind) or a neutral constant of the same kind (a Jet text, so that queries differing only
// in their constants translate once). In Jet, "..." is a text constant; in SQLite it is a name and stays. A number
// that is a term of ORDER BY or GROUP BY means a column position, not a value, and stays as well.
std::string QueryCache::extractConstants(const std::string& sql, bool jet, std::vector<Literal>& literals)
{
    std::string out;
    out.reserve(sql.size());
    const auto isWord = [](char c) { return charIs(c, kWord); };
    std::string_view previousWord;
    bool termStart = false;  // at the start of an ORDER BY or GROUP BY term
    bool inPositionList = false;
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"' || (jet && c == '[')) {
            const char close = c == '[' ? ']' : c;
            std::size_t k = i + 1;
            std::string value;
            while (k < sql.size()) {
                if (sql[k] == close) {
                    if (close != ']' && k + 1 < sql.size() && sql[k + 1] == close) {
                        value.push_back(close);
                        k += 2;
                        continue;
                    }
                    break;
                }
                value.push_back(sql[k++]);
            }
            // An unterminated constant stays as written, for the translator to refuse.
            const bool constant = (c == '\'' || (jet && c == '"')) && k < sql.size();
            if (constant) {
                literals.push_back({true, std::move(value)});
                out += jet ? "''" : "?";
            } else {
                out.append(sql, i, std::min(k + 1, sql.size()) - i);
            }
            i = k + 1;
            termStart = false;
        } else if (charIs(c, kDigit) && (i == 0 || !isWord(sql[i - 1]))) {
            std::size_t k = i;
            while (k < sql.size() && ((charIs(sql[k], kWord) && !(sql[k] & 0x80) && sql[k] != '_') || sql[k] == '.' ||
                                      ((sql[k] == '+' || sql[k] == '-') && (sql[k - 1] == 'e' || sql[k - 1] == 'E'))))
                ++k;
            // Only plain decimal numbers are taken out; anything else is left for the translator to judge.
            if (termStart || !isDecimal(std::string_view(sql).substr(i, k - i))) {
                out.append(sql, i, k - i);
            } else {
                literals.push_back({false, sql.substr(i, k - i)});
                out += jet ? "0" : "?";
            }
            i = k;
            termStart = false;
        } else if (isWord(c)) {
            const std::size_t start = i;
            while (i < sql.size() && isWord(sql[i])) ++i;
            const std::string_view word(sql.data() + start, i - start);
            out += word;
            const auto is = [](std::string_view w, std::string_view keyword) {
                return w.size() == keyword.size() && g_ascii_strncasecmp(w.data(), keyword.data(), w.size()) == 0;
            };
            const bool by = is(word, "BY") && (is(previousWord, "ORDER") || is(previousWord, "GROUP"));
            if (by) inPositionList = true;
            else if (is(word, "HAVING") || is(word, "LIMIT") || is(word, "WHERE") || is(word, "FROM") || is(word, "UNION"))
                inPositionList = false;
            termStart = by;
            previousWord = word;
        } else {
            if (c == ',' && inPositionList) termStart = true;
            else if (!charIs(c, kSpace)) termStart = false;
            out += sql[i++];
        }
    }
    return out;
}

void QueryCache::bindLiterals(sqlite3_stmt* stmt, const std::vector<Literal>& literals)
{
    for (std::size_t i = 0; i < literals.size(); ++i) {
        const Literal& literal = literals[i];
        const int n = static_cast<int>(i) + 1;
        if (literal.text) {
            sqlite3_bind_text(stmt, n, literal.value.data(), static_cast<int>(literal.value.size()), SQLITE_TRANSIENT);
        } else if (literal.value.find_first_of(".eE") == std::string::npos) {
            errno = 0;
            const long long v = std::strtoll(literal.value.c_str(), nullptr, 10);
            if (errno == ERANGE) sqlite3_bind_double(stmt, n, std::strtod(literal.value.c_str(), nullptr));
            else sqlite3_bind_int64(stmt, n, v);
        } else {
            sqlite3_bind_double(stmt, n, std::strtod(literal.value.c_str(), nullptr));
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
    // Queries that differ only in their constants share one translation.
    std::vector<Literal> jetLiterals;
    const std::string neutral = extractConstants(jetSql, true, jetLiterals);
    auto known = m_translations.find(neutral);
    if (known == m_translations.end()) {
        std::vector<Literal> translatedLiterals;
        std::string shape = extractConstants(translateJetSql(neutral, resolve, tables), false, translatedLiterals);
        // Only when the translation kept every constant, in order, can the constants be handed over as they are.
        if (translatedLiterals.size() != jetLiterals.size()) shape.clear();
        if (m_translations.size() > 256) m_translations.clear();
        known = m_translations.emplace(neutral, std::make_pair(std::move(shape), jetLiterals.size())).first;
    }
    if (!known->second.first.empty()) {
        query.shape = known->second.first;
        query.literals = std::move(jetLiterals);
    } else {
        query.shape = extractConstants(translateJetSql(jetSql, resolve, tables), false, query.literals);
    }
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
    bindLiterals(stmt, query.literals);
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

#include "source/JetDatabase.h"

#include "runtime/RuntimeError.h"
#include "source/GlibString.h"
#include "source/JetFile.h"
#include "source/JetHeader.h"
#include "source/JetSql.h"
#include "source/JetVirtualTable.h"
#include "source/Recordset.h"
#include "source/SqliteConnection.h"
#include "source/SqliteStatement.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <glib.h>
#include <list>
#include <map>
#include <unordered_map>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Names are matched the way Jet matches them: without regard to case, Unicode-aware (per_año finds Per_Año).
std::string foldName(std::string_view name)
{
    const GlibString folded(g_utf8_casefold(name.data(), static_cast<gssize>(name.size())));
    return folded ? std::string(folded.get()) : std::string(name);
}

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": " + std::strerror(errno));
    return {st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// The columns of a query shape: their names as the engine gives them, folded for lookups, and which hold dates
// (a number in a DATETIME column is a date).
struct Columns {
    std::vector<std::string> names;
    std::vector<std::string> folded;
    std::vector<bool> dates;
};

using Rows = std::vector<std::vector<Value>>;

// Reads column `i` of the current row into `into`, reusing its text buffer. The column's value is read through
// sqlite3_column_value, as the connection is used by one thread only.
void readColumn(sqlite3_stmt* stmt, int i, bool date, Value& into)
{
    sqlite3_value* value = sqlite3_column_value(stmt, i);
    switch (sqlite3_value_type(value)) {
    case SQLITE_NULL: into.setNull(); break;
    case SQLITE_INTEGER: into.setInteger(sqlite3_value_int64(value)); break;
    case SQLITE_FLOAT: {
        const double v = sqlite3_value_double(value);
        if (date) into.setDate(v);
        else into.setReal(v);
        break;
    }
    default: {
        // A text is UTF-8 as stored; read as bytes, it needs no terminating copy.
        const auto* text = static_cast<const char*>(sqlite3_value_blob(value));
        into.setText().assign(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(value)));
    }
    }
}

void readRow(sqlite3_stmt* stmt, const Columns& columns, std::vector<Value>& row)
{
    row.resize(columns.names.size());
    for (std::size_t i = 0; i < row.size(); ++i) readColumn(stmt, int(i), columns.dates[i], row[i]);
}

// A constant of a translated query, taken out so that queries differing only in their constants share one
// prepared statement.
struct Literal {
    bool text;
    std::string value;
};

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

// Takes the text and number constants out of a query, in order, and writes in their place `?` (the translated
// SQLite text, ready to bind) or a neutral constant of the same kind (a Jet text, so that queries differing only
// in their constants translate once). In Jet, "..." is a text constant; in SQLite it is a name and stays. A number
// that is a term of ORDER BY or GROUP BY means a column position, not a value, and stays as well.
std::string extractConstants(const std::string& sql, bool jet, std::vector<Literal>& literals)
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

// One query shape as the engine runs it: its idle prepared statements (a shape walked inside a walk of the same
// shape needs a second one) and its columns.
struct Shape {
    std::vector<std::unique_ptr<SqliteStatement>> idle;
    std::shared_ptr<const Columns> columns;
    std::list<std::string>::iterator recent;
};

// One reading of the file: the reader, the SQLite connection serving its tables, the statements prepared on it.
// A recordset still being walked keeps its reading alive when the file changes and the database reads it afresh.
struct Engine {
    static constexpr std::size_t kKeptShapes = 16;

    // Destroyed in reverse order: statements, then the connection, then the reader its tables use.
    std::unique_ptr<JetFile> file;
    JetVirtualTable::Source source;
    SqliteConnection sql;
    std::unordered_map<std::string, Shape> shapes;  // by the parameterized SQLite text
    std::list<std::string> recentShapes;            // most recently used first
    std::chrono::steady_clock::time_point deadline;
    bool broken = false;  // a read failed: what was read may be incomplete, or the file is being rewritten

    Engine(const std::string& path, const std::string& password)
        : file(std::make_unique<JetFile>(path, password)), sql(SqliteConnection::inMemory())
    {
        registerJetFunctions(sql.get());
        source.file = file.get();
        JetVirtualTable::attach(sql.get(), source);
        // The query time-out bounds each step of a query; the engine checks it every few thousand operations.
        sqlite3_progress_handler(
            sql.get(), 10000,
            [](void* engine) { return std::chrono::steady_clock::now() > static_cast<Engine*>(engine)->deadline ? 1 : 0; },
            this);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Shape& shape(const std::string& text)
    {
        if (auto it = shapes.find(text); it != shapes.end()) {
            recentShapes.splice(recentShapes.begin(), recentShapes, it->second.recent);
            return it->second;
        }
        Shape shape;
        auto statement = std::make_unique<SqliteStatement>(sql.get(), text);
        const int count = sqlite3_column_count(statement->get());
        auto columns = std::make_shared<Columns>();
        for (int i = 0; i < count; ++i) {
            columns->names.emplace_back(sqlite3_column_name(statement->get(), i));
            columns->folded.push_back(foldName(columns->names.back()));
            const char* declared = sqlite3_column_decltype(statement->get(), i);
            columns->dates.push_back(declared && std::strncmp(declared, "DATETIME", 8) == 0);
        }
        shape.columns = std::move(columns);
        shape.idle.reserve(2);  // giving a statement back never allocates
        shape.idle.push_back(std::move(statement));
        while (shapes.size() >= kKeptShapes) {
            shapes.erase(recentShapes.back());
            recentShapes.pop_back();
        }
        recentShapes.push_front(text);
        shape.recent = recentShapes.begin();
        return shapes.emplace(text, std::move(shape)).first->second;
    }

    // A statement of the shape to run, idle or new.
    std::unique_ptr<SqliteStatement> take(const std::string& text, Shape& shape)
    {
        if (shape.idle.empty()) return std::make_unique<SqliteStatement>(sql.get(), text);
        auto statement = std::move(shape.idle.back());
        shape.idle.pop_back();
        return statement;
    }

    // A statement walked to its end or abandoned, ready for its shape's next query.
    void giveBack(const std::string& text, std::unique_ptr<SqliteStatement> statement)
    {
        sqlite3_reset(statement->get());
        sqlite3_clear_bindings(statement->get());
        const auto it = shapes.find(text);
        if (it != shapes.end() && it->second.idle.size() < 2) it->second.idle.push_back(std::move(statement));
    }

    // One step of a statement, within the query time-out: true on a row, false at the end. A failure raises
    // RuntimeError with the reader's own description when it has one.
    bool step(sqlite3_stmt* stmt, int timeoutSeconds)
    {
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds > 0 ? timeoutSeconds : 1 << 20);
        source.lastError.clear();
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        broken = true;
        const std::string failure = source.lastError.empty() ? sqlite3_errmsg(sql.get()) : source.lastError;
        sqlite3_reset(stmt);
        if (rc == SQLITE_INTERRUPT) throw RuntimeError(RuntimeError::DatabaseError, "the query timed out");
        if (rc == SQLITE_NOMEM) throw std::bad_alloc();
        throw RuntimeError(RuntimeError::DatabaseError, failure);
    }
};

// The rows of one query. The first rows are read when the query opens (all of them for the program's small
// queries, which can then be kept); a longer result is read on as it is walked, one row at a time into the same
// place, its statement held until the end.
class QueryRecordset final : public Recordset {
public:
    QueryRecordset(std::shared_ptr<const Columns> columns, std::shared_ptr<const Rows> head)
        : m_columns(std::move(columns)), m_head(std::move(head))
    {
    }

    QueryRecordset(std::shared_ptr<const Columns> columns, std::shared_ptr<const Rows> head,
                   std::shared_ptr<Engine> engine, std::string shape, std::unique_ptr<SqliteStatement> statement,
                   int timeoutSeconds, std::vector<Value> next)
        : m_columns(std::move(columns)), m_head(std::move(head)), m_engine(std::move(engine)),
          m_shape(std::move(shape)), m_statement(std::move(statement)), m_timeout(timeoutSeconds),
          m_row(std::move(next)), m_read(m_row.size(), 1)
    {
    }

    ~QueryRecordset() override { finish(); }

    bool isEOF() const override { return m_closed || (m_position >= m_head->size() && !m_statement); }

    const Value& Fields(std::string_view name) const override
    {
        if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "the recordset is closed");
        if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "no current record (reading " + std::string(name) + ")");
        const std::size_t column = columnOf(name);
        if (m_position < m_head->size()) return (*m_head)[m_position][column];
        // Past the head, a column is read when it is first asked for.
        if (!m_read[column]) {
            readColumn(m_statement->get(), int(column), m_columns->dates[column], m_row[column]);
            m_read[column] = 1;
        }
        return m_row[column];
    }

    void MoveNext() override
    {
        if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "no current record");
        if (m_position < m_head->size()) {
            ++m_position;
            return;
        }
        bool more = false;
        try {
            more = m_engine->step(m_statement->get(), m_timeout);
        } catch (...) {
            finish();
            throw;
        }
        if (more) std::fill(m_read.begin(), m_read.end(), 0);
        else finish();
    }

    void Close() override
    {
        m_closed = true;
        m_head.reset();
        finish();
    }

private:
    void finish() noexcept
    {
        if (m_statement) m_engine->giveBack(m_shape, std::move(m_statement));
        m_engine.reset();
    }

    // Writers read a dozen fields per row; most names differ from the stored ones in ASCII case only, which is
    // told without folding.
    std::size_t columnOf(std::string_view name) const
    {
        // The writers ask for the same dozen names on every row, in the same order and mostly with literal texts:
        // the names found are remembered with where they were, and the one after the last found is tried first.
        const std::size_t count = m_found.size();
        const auto same = [&](const Found& found) { return found.at == name.data() && found.asked == name; };
        if (std::size_t next = m_lastFound + 1 < count ? m_lastFound + 1 : 0; next < count && same(m_found[next])) {
            m_lastFound = next;
            return m_found[next].column;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (m_found[i].asked == name) {
                m_lastFound = i;
                return m_found[i].column;
            }
        }
        const std::size_t column = findColumn(name);
        if (m_found.size() < 32) {
            m_found.push_back({name.data(), std::string(name), column});
            m_lastFound = m_found.size() - 1;
        }
        return column;
    }

    std::size_t findColumn(std::string_view name) const
    {
        const std::vector<std::string>& names = m_columns->names;
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i].size() == name.size() &&
                std::equal(name.begin(), name.end(), names[i].begin(),
                           [](char a, char b) { return g_ascii_tolower(a) == g_ascii_tolower(b); }))
                return i;
        const std::string folded = foldName(name);
        for (std::size_t i = 0; i < m_columns->folded.size(); ++i)
            if (m_columns->folded[i] == folded) return i;
        throw RuntimeError(RuntimeError::DatabaseError, "item not found in this collection: " + std::string(name));
    }

    struct Found {
        const char* at;  // where the name asked for was: literal texts are asked for from the same place
        std::string asked;
        std::size_t column;
    };
    mutable std::vector<Found> m_found;
    mutable std::size_t m_lastFound = 0;
    std::shared_ptr<const Columns> m_columns;
    std::shared_ptr<const Rows> m_head;
    std::size_t m_position = 0;
    // While more rows are to be read: the reading they come from and the statement reading them.
    std::shared_ptr<Engine> m_engine;
    std::string m_shape;
    std::unique_ptr<SqliteStatement> m_statement;
    int m_timeout = 0;
    mutable std::vector<Value> m_row;  // the current row once past the head
    mutable std::vector<char> m_read;  // which of its columns were read
    bool m_closed = false;
};

// One query text, kept while the file is unchanged: its shape and constants and, when small, its rows.
struct KeptQuery {
    std::string shape;
    std::vector<Literal> literals;
    std::shared_ptr<const Columns> columns;
    std::shared_ptr<const Rows> rows;
    std::list<std::string>::iterator recent;
    std::list<KeptQuery*>::iterator kept;  // in State::keptRows while `rows` is held
};

void bindLiterals(sqlite3_stmt* stmt, const std::vector<Literal>& literals)
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

}  // namespace

struct JetDatabase::State {
    // How many query texts are kept, how many values their kept rows may hold in all (a few megabytes), and how
    // many values a query reads when it opens: a result that fits is read whole and may be kept, a longer one is
    // read on as it is walked.
    static constexpr std::size_t kKeptQueries = 2048;
    static constexpr std::size_t kKeptValues = 30000;
    static constexpr std::size_t kHeadValues = 512;

    std::string path;
    std::string password;
    std::shared_ptr<Engine> engine;
    FileIdentity identity;
    std::map<std::string, std::string> canonical;  // folded name → name as the file spells it
    std::map<std::string, TableColumns> tableColumns;  // by the table's name as the file spells it
    std::unordered_map<std::string, KeptQuery> queries;  // by the query's Jet text
    std::list<std::string> recentQueries;          // most recently used first
    std::list<KeptQuery*> keptRows;                // queries holding rows, most recently used first
    // Translations by the Jet text with neutral constants: the parameterized SQLite text and how many constants
    // it takes; empty when that query must be translated with its own constants.
    std::unordered_map<std::string, std::pair<std::string, std::size_t>> translations;
    std::size_t keptValues = 0;
    bool closed = false;

    void forget()
    {
        queries.clear();
        recentQueries.clear();
        keptRows.clear();
        translations.clear();
        keptValues = 0;
        canonical.clear();
        tableColumns.clear();
        engine.reset();
    }

    // Reads the file afresh when it is not the one read before, or when a read of it failed; everything read
    // before is dropped (a recordset still being walked keeps its own reading).
    void refresh()
    {
        const FileIdentity now = identityOf(path);
        if (engine && !engine->broken && now == identity) return;
        forget();
        engine = std::make_shared<Engine>(path, password);
        identity = now;
        for (const JetTableInfo& table : engine->file->tables()) {
            canonical.emplace(foldName(table.name), table.name);
            TableColumns& columns = tableColumns[table.name];
            for (const JetColumn& column : table.columns) {
                canonical.emplace(foldName(column.name), column.name);
                columns.columns.push_back(column.name);
            }
            for (const int unique : table.uniqueColumns) columns.uniqueColumns.push_back(table.columns[std::size_t(unique)].name);
        }
    }

    KeptQuery& query(const std::string& jetSql)
    {
        if (auto it = queries.find(jetSql); it != queries.end()) {
            recentQueries.splice(recentQueries.begin(), recentQueries, it->second.recent);
            return it->second;
        }
        KeptQuery query;
        const auto resolve = [&](std::string_view name) -> std::optional<std::string> {
            const auto it = canonical.find(foldName(name));
            if (it == canonical.end()) return std::nullopt;
            return it->second;
        };
        // Queries that differ only in their constants share one translation.
        const TableLookup tables = [&](const std::string& name) -> const TableColumns* {
            const auto it = tableColumns.find(name);
            return it == tableColumns.end() ? nullptr : &it->second;
        };
        std::vector<Literal> jetLiterals;
        const std::string neutral = extractConstants(jetSql, true, jetLiterals);
        auto known = translations.find(neutral);
        if (known == translations.end()) {
            std::vector<Literal> translatedLiterals;
            std::string shape = extractConstants(translateJetSql(neutral, resolve, tables), false, translatedLiterals);
            // Only when the translation kept every constant, in order, can the constants be handed over as they are.
            if (translatedLiterals.size() != jetLiterals.size()) shape.clear();
            if (translations.size() > 256) translations.clear();
            known = translations.emplace(neutral, std::make_pair(std::move(shape), jetLiterals.size())).first;
        }
        if (!known->second.first.empty()) {
            query.shape = known->second.first;
            query.literals = std::move(jetLiterals);
        } else {
            query.shape = extractConstants(translateJetSql(jetSql, resolve, tables), false, query.literals);
        }
        while (queries.size() >= kKeptQueries) drop(recentQueries.back());
        recentQueries.push_front(jetSql);
        query.recent = recentQueries.begin();
        return queries.emplace(jetSql, std::move(query)).first->second;
    }

    void drop(const std::string& jetSql)
    {
        const auto it = queries.find(jetSql);
        if (it == queries.end()) return;
        if (it->second.rows) release(it->second);
        recentQueries.erase(it->second.recent);
        queries.erase(it);
    }

    void release(KeptQuery& query)
    {
        keptValues -= query.rows->size() * query.columns->names.size();
        query.rows.reset();
        keptRows.erase(query.kept);
    }

    // Keeps a query's rows while they fit, making room among the least recently used.
    void keep(KeptQuery& query, const std::shared_ptr<const Rows>& rows)
    {
        const std::size_t values = rows->size() * query.columns->names.size();
        if (values > kKeptValues / 4) return;
        while (keptValues + values > kKeptValues && !keptRows.empty()) release(*keptRows.back());
        query.rows = rows;
        keptRows.push_front(&query);
        query.kept = keptRows.begin();
        keptValues += values;
    }

    // A query whose kept rows are used again moves to the front of those kept.
    void touch(KeptQuery& query) { keptRows.splice(keptRows.begin(), keptRows, query.kept); }

    std::unique_ptr<Recordset> open(KeptQuery& query, int timeoutSeconds)
    {
        if (query.rows) {
            touch(query);
            return std::make_unique<QueryRecordset>(query.columns, query.rows);
        }
        Shape& shape = engine->shape(query.shape);
        query.columns = shape.columns;
        std::unique_ptr<SqliteStatement> statement = engine->take(query.shape, shape);
        sqlite3_stmt* stmt = statement->get();
        bindLiterals(stmt, query.literals);
        const Columns& columns = *query.columns;
        const std::size_t width = std::max<std::size_t>(columns.names.size(), 1);
        auto head = std::make_shared<Rows>();
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
};

JetDatabase::JetDatabase(std::string path, std::string password) : m_state(std::make_unique<State>())
{
    m_state->path = std::move(path);
    m_state->password = std::move(password);
    m_state->refresh();
}

JetDatabase::~JetDatabase() = default;

std::unique_ptr<Recordset> JetDatabase::OpenRecordset(const std::string& jetSql)
{
    State& s = *m_state;
    if (s.closed) throw RuntimeError(RuntimeError::DatabaseError, "the database is closed");
    s.refresh();
    return s.open(s.query(jetSql), QueryTimeout);
}

void JetDatabase::Close()
{
    m_state->closed = true;
    m_state->forget();
}

namespace {

class JetWorkspace : public Workspace {
public:
    std::unique_ptr<Database> OpenDatabase(const std::string& path, bool /*exclusive*/, bool /*readOnly*/,
                                           const std::string& connect) override
    {
        // The program only reads: the file is always opened read-only, whatever the caller asks.
        return std::make_unique<JetDatabase>(path, passwordFromConnect(connect));
    }
    void Close() override {}
};

}  // namespace

std::unique_ptr<Workspace> Workspaces0() { return std::make_unique<JetWorkspace>(); }

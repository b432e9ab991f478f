#include "source/JetDatabase.h"

#include "platform/RuntimeError.h"
#include "source/JetFile.h"
#include "source/JetHeader.h"
#include "source/JetSql.h"
#include "source/Recordset.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <glib.h>
#include <map>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

// Names are matched the way Jet matches them: without regard to case, Unicode-aware (per_año finds Per_Año).
std::string foldName(std::string_view name)
{
    gchar* folded = g_utf8_casefold(name.data(), static_cast<gssize>(name.size()));
    std::string result = folded ? folded : std::string(name);
    g_free(folded);
    return result;
}

std::string quoted(const std::string& name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + "\"";
}

// Declared types fix both SQLite's storage (REAL affinity keeps 5.0 a double, TEXT keeps "007" a text) and the
// kind a recordset reports for a plain column.
const char* declaredType(JetType type)
{
    switch (type) {
    case JetType::Boolean: return "BOOLEAN INTEGER";
    case JetType::Byte: return "BYTE INTEGER";
    case JetType::Integer: return "SHORT INTEGER";
    case JetType::Long: return "LONG INTEGER";
    case JetType::Currency: return "CURRENCY REAL";
    case JetType::Single: return "SINGLE REAL";
    case JetType::Double: return "DOUBLE REAL";
    case JetType::DateTime: return "DATETIME REAL";
    case JetType::Text: return "TEXT COLLATE jet_text";
    case JetType::Memo: return "MEMO TEXT COLLATE jet_text";
    }
    return "BLOB";
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

// The sort key of a text: case folded, with or without its accents.
std::string textKey(const char* text, int length, bool keepAccents)
{
    gchar* folded = g_utf8_casefold(text, length);
    std::string key;
    if (!folded) return std::string(text, static_cast<std::size_t>(length));
    if (keepAccents) {
        key = folded;
    } else {
        gchar* decomposed = g_utf8_normalize(folded, -1, G_NORMALIZE_NFD);
        for (const gchar* p = decomposed ? decomposed : folded; *p; p = g_utf8_next_char(p)) {
            const gunichar c = g_utf8_get_char(p);
            if (g_unichar_ismark(c)) continue;
            char buffer[6];
            key.append(buffer, static_cast<std::size_t>(g_unichar_to_utf8(c, buffer)));
        }
        g_free(decomposed);
    }
    g_free(folded);
    return key;
}

// Jet compares text without regard to case, and sorts letters with accents beside the plain ones (Ñandubay among
// the N, Ángel among the A): the accents decide only between texts that are otherwise the same.
int jetTextCollation(void*, int lengthA, const void* a, int lengthB, const void* b)
{
    const auto* textA = static_cast<const char*>(a);
    const auto* textB = static_cast<const char*>(b);
    const bool ascii = std::all_of(textA, textA + lengthA, [](char c) { return (c & 0x80) == 0; }) &&
                       std::all_of(textB, textB + lengthB, [](char c) { return (c & 0x80) == 0; });
    if (ascii) {
        const int common = std::min(lengthA, lengthB);
        for (int i = 0; i < common; ++i) {
            const int ca = g_ascii_tolower(textA[i]);
            const int cb = g_ascii_tolower(textB[i]);
            if (ca != cb) return ca < cb ? -1 : 1;
        }
        return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
    }
    for (bool keepAccents : {false, true}) {
        const int order = textKey(textA, lengthA, keepAccents).compare(textKey(textB, lengthB, keepAccents));
        if (order != 0) return order < 0 ? -1 : 1;
    }
    return 0;
}

class SqliteDb {
public:
    SqliteDb()
    {
        if (sqlite3_open_v2(":memory:", &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot start the query engine");
        registerJetFunctions(m_db);
        sqlite3_create_collation(m_db, "jet_text", SQLITE_UTF8, nullptr, jetTextCollation);
    }
    ~SqliteDb() { sqlite3_close_v2(m_db); }
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    sqlite3* get() const noexcept { return m_db; }

    void exec(const std::string& sql) const
    {
        char* message = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "unknown error";
            sqlite3_free(message);
            throw RuntimeError(RuntimeError::DatabaseError, "query engine: " + text);
        }
    }

private:
    sqlite3* m_db = nullptr;
};

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
            throw RuntimeError(RuntimeError::DatabaseError, std::string("cannot run query: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    sqlite3_stmt* get() const noexcept { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

Value columnValue(sqlite3_stmt* stmt, int i)
{
    switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_NULL: return Value::null();
    case SQLITE_INTEGER: return Value::integer(sqlite3_column_int64(stmt, i));
    case SQLITE_FLOAT: {
        const char* decl = sqlite3_column_decltype(stmt, i);
        const double v = sqlite3_column_double(stmt, i);
        return decl && std::strncmp(decl, "DATETIME", 8) == 0 ? Value::date(v) : Value::real(v);
    }
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        return Value::text(std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
    }
    }
}

// The rows of one query, read whole when the query runs: small for every query of the program, and no statement
// stays open while a later query reads the file again.
class MaterializedRecordset : public Recordset {
public:
    MaterializedRecordset(std::vector<std::string> names, std::vector<std::vector<Value>> rows)
        : m_names(std::move(names)), m_rows(std::move(rows))
    {
        for (const std::string& name : m_names) m_folded.push_back(foldName(name));
    }

    bool isEOF() const override { return m_closed || m_current >= m_rows.size(); }

    const Value& Fields(std::string_view name) const override
    {
        if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "the recordset is closed");
        if (m_current >= m_rows.size())
            throw RuntimeError(RuntimeError::DatabaseError, "no current record (reading " + std::string(name) + ")");
        return m_rows[m_current][columnOf(name)];
    }

    void MoveNext() override
    {
        if (isEOF()) throw RuntimeError(RuntimeError::DatabaseError, "no current record");
        ++m_current;
    }

    void Close() override
    {
        m_closed = true;
        m_rows.clear();
    }

private:
    // Writers read a dozen fields per row; most names differ from the stored ones in ASCII case only, which is
    // told without folding.
    std::size_t columnOf(std::string_view name) const
    {
        for (std::size_t i = 0; i < m_names.size(); ++i)
            if (m_names[i].size() == name.size() &&
                std::equal(name.begin(), name.end(), m_names[i].begin(),
                           [](char a, char b) { return g_ascii_tolower(a) == g_ascii_tolower(b); }))
                return i;
        const std::string folded = foldName(name);
        for (std::size_t i = 0; i < m_folded.size(); ++i)
            if (m_folded[i] == folded) return i;
        throw RuntimeError(RuntimeError::DatabaseError, "item not found in this collection: " + std::string(name));
    }

    std::vector<std::string> m_names;
    std::vector<std::string> m_folded;
    std::vector<std::vector<Value>> m_rows;
    std::size_t m_current = 0;
    bool m_closed = false;
};

}  // namespace

struct JetDatabase::State {
    std::string path;
    std::string password;
    std::unique_ptr<JetFile> file;
    FileIdentity identity;
    std::unique_ptr<SqliteDb> sql;
    std::set<std::string> loaded;                  // tables copied into `sql`
    std::map<std::string, std::string> canonical;  // folded name → name as the file spells it
    bool closed = false;

    // Reads the file's catalog again when the file is not the one read before, dropping what was read from it.
    void refresh()
    {
        const FileIdentity now = identityOf(path);
        if (file && now == identity) return;
        file.reset();
        sql.reset();
        loaded.clear();
        canonical.clear();
        file = std::make_unique<JetFile>(path, password);
        identity = now;
        sql = std::make_unique<SqliteDb>();
        for (const JetTableInfo& table : file->tables()) {
            canonical.emplace(foldName(table.name), table.name);
            for (const JetColumn& column : table.columns) canonical.emplace(foldName(column.name), column.name);
        }
    }

    void load(const JetTableInfo& table)
    {
        if (loaded.count(table.name)) return;
        std::string create = "CREATE TABLE " + quoted(table.name) + " (";
        std::string insert = "INSERT INTO " + quoted(table.name) + " VALUES (";
        for (std::size_t i = 0; i < table.columns.size(); ++i) {
            create += (i ? ", " : "") + quoted(table.columns[i].name) + " " + declaredType(table.columns[i].type);
            insert += i ? ", ?" : "?";
        }
        sql->exec(create + ")");
        sql->exec("BEGIN");
        {
            Statement stmt(sql->get(), insert + ")");
            file->scan(table, [&](const std::vector<Value>& row) {
                for (std::size_t i = 0; i < row.size(); ++i) {
                    const Value& v = row[i];
                    const int n = static_cast<int>(i) + 1;
                    switch (v.kind()) {
                    case Value::Kind::Null: sqlite3_bind_null(stmt.get(), n); break;
                    case Value::Kind::Integer: sqlite3_bind_int64(stmt.get(), n, v.asInteger()); break;
                    case Value::Kind::Double:
                    case Value::Kind::Date: sqlite3_bind_double(stmt.get(), n, v.asDouble()); break;
                    case Value::Kind::Text:
                        sqlite3_bind_text(stmt.get(), n, v.asText().data(), static_cast<int>(v.asText().size()),
                                          SQLITE_STATIC);
                        break;
                    }
                }
                if (sqlite3_step(stmt.get()) != SQLITE_DONE)
                    throw RuntimeError(RuntimeError::DatabaseError,
                                       "cannot copy table " + table.name + ": " + sqlite3_errmsg(sql->get()));
                sqlite3_reset(stmt.get());
            });
        }
        sql->exec("COMMIT");
        for (const std::string& column : table.indexedColumns)
            sql->exec("CREATE INDEX IF NOT EXISTS " + quoted("ix_" + table.name + "_" + column) + " ON " +
                      quoted(table.name) + " (" + quoted(column) + ")");
        loaded.insert(table.name);
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
    try {
        s.refresh();
        std::set<std::string> named;
        const std::string sql = translateJetSql(jetSql, [&](std::string_view name) -> std::optional<std::string> {
            const auto it = s.canonical.find(foldName(name));
            if (it == s.canonical.end()) return std::nullopt;
            named.insert(it->second);
            return it->second;
        });
        for (const JetTableInfo& table : s.file->tables())
            if (named.count(table.name)) s.load(table);

        Statement stmt(s.sql->get(), sql);
        const int columns = sqlite3_column_count(stmt.get());
        std::vector<std::string> names;
        for (int i = 0; i < columns; ++i) names.emplace_back(sqlite3_column_name(stmt.get(), i));

        // The query time-out bounds a runaway query; the engine checks it every few thousand steps.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(QueryTimeout > 0 ? QueryTimeout : 1 << 20);
        sqlite3_progress_handler(
            s.sql->get(), 10000,
            [](void* d) { return std::chrono::steady_clock::now() > *static_cast<decltype(deadline)*>(d) ? 1 : 0; },
            const_cast<void*>(static_cast<const void*>(&deadline)));
        std::vector<std::vector<Value>> rows;
        int rc;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
            std::vector<Value> row;
            row.reserve(std::size_t(columns));
            for (int i = 0; i < columns; ++i) row.push_back(columnValue(stmt.get(), i));
            rows.push_back(std::move(row));
        }
        sqlite3_progress_handler(s.sql->get(), 0, nullptr, nullptr);
        if (rc == SQLITE_INTERRUPT) throw RuntimeError(RuntimeError::DatabaseError, "the query timed out");
        if (rc != SQLITE_DONE)
            throw RuntimeError(RuntimeError::DatabaseError, std::string("query failed: ") + sqlite3_errmsg(s.sql->get()));
        return std::make_unique<MaterializedRecordset>(std::move(names), std::move(rows));
    } catch (const RuntimeError&) {
        // What was read may be incomplete; read the file afresh next time.
        s.file.reset();
        throw;
    }
}

void JetDatabase::Close()
{
    m_state->closed = true;
    m_state->file.reset();
    m_state->sql.reset();
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

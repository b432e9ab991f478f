#include "source/JetVirtualTable.h"

#include "runtime/RuntimeError.h"
#include "source/JetFile.h"
#include "source/JetSql.h"

#include <sqlite3.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

// Declared types fix both SQLite's storage (REAL keeps 5.0 a double, TEXT keeps "007" a text) and the kind a
// recordset reports for a plain column. Text compares and sorts as Jet does (see the jet_text collation).
const char* declaredType(JetType type) {
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

struct Table {
    sqlite3_vtab base{};
    JetVirtualTable::Source* source = nullptr;
    const JetFile* file = nullptr;
    std::size_t index = 0;
};

struct Cursor {
    sqlite3_vtab_cursor base{};
    bool seeking = false;
    // A search: the rows the index gave, read one at a time.
    std::vector<RowPointer> pointers;
    std::size_t next = 0;
    // A scan: the data pages, and the rows of the page being read.
    const std::vector<std::uint32_t>* pages = nullptr;
    std::size_t page = 0;
    std::vector<std::vector<Value>> pageRows;
    std::size_t pageRow = 0;

    // The current row: kept by the file, decoded into `buffer`, or one of `pageRows`.
    const std::vector<Value>* current = nullptr;
    RowBuffer buffer;
    bool eof = true;
    sqlite3_int64 rowid = 0;
};

Table& tableOf(sqlite3_vtab* vtab) { return *reinterpret_cast<Table*>(vtab); }
Table& tableOf(sqlite3_vtab_cursor* cursor) { return tableOf(cursor->pVtab); }
Cursor& cursorOf(sqlite3_vtab_cursor* cursor) { return *reinterpret_cast<Cursor*>(cursor); }

// Runs a callback's body; a failure of the reader becomes SQLite's error, its description kept for the caller.
template <typename Body>
int guarded(sqlite3_vtab* vtab, Body body) {
    try {
        return body();
    } catch (const RuntimeError& e) {
        tableOf(vtab).source->lastError = e.Description();
        sqlite3_free(vtab->zErrMsg);
        vtab->zErrMsg = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    } catch (const std::bad_alloc&) {
        return SQLITE_NOMEM;
    } catch (const std::exception& e) {
        tableOf(vtab).source->lastError = e.what();
        sqlite3_free(vtab->zErrMsg);
        vtab->zErrMsg = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
}

// Moves to the next live row, or to the end.
void advance(Table& table, Cursor& c) {
    c.eof = true;
    if (c.seeking) {
        while (c.next < c.pointers.size()) {
            if (const auto* row = table.file->rowAt(table.index, c.pointers[c.next++], c.buffer)) {
                c.current = row;
                c.eof = false;
                ++c.rowid;
                return;
            }
        }
        return;
    }
    while (c.pageRow >= c.pageRows.size()) {
        if (c.page >= c.pages->size()) return;
        c.pageRows.clear();
        c.pageRow = 0;
        table.file->rowsOnPage(table.index, (*c.pages)[c.page++], c.pageRows);
    }
    c.current = &c.pageRows[c.pageRow++];
    c.eof = false;
    ++c.rowid;
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** error) {
    auto* source = static_cast<JetVirtualTable::Source*>(aux);
    const JetFile* file = source->file;
    if (argc < 4) {
        *error = sqlite3_mprintf("jet: table number missing");
        return SQLITE_ERROR;
    }
    const std::size_t index = std::strtoul(argv[3], nullptr, 10);
    if (index >= file->tables().size()) {
        *error = sqlite3_mprintf("jet: no table %s", argv[3]);
        return SQLITE_ERROR;
    }
    std::string schema = "CREATE TABLE x(";
    const auto& columns = file->tables()[index].columns;
    for (std::size_t i = 0; i < columns.size(); ++i)
        schema += (i ? ", " : "") + sqlQuoted(columns[i].name, '"') + " " + declaredType(columns[i].type);
    schema += columns.empty() ? "\"\" BLOB)" : ")";
    const int rc = sqlite3_declare_vtab(db, schema.c_str());
    if (rc != SQLITE_OK) return rc;
    auto* table = new (std::nothrow) Table;
    if (!table) return SQLITE_NOMEM;
    table->source = source;
    table->file = file;
    table->index = index;
    *out = &table->base;
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* vtab) {
    delete &tableOf(vtab);
    return SQLITE_OK;
}

// Weighs a search of a file index against a scan of the table: an equality on a seekable column wins, one on a
// column whose index allows each key once (one row) best of all, so that the engine searches from the most
// selective table inwards.
int xBestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    const JetTableInfo& table = tableOf(vtab).file->tables()[tableOf(vtab).index];
    const double rows = std::max<double>(table.rowCountEstimate, 1.0);
    int chosen = -1;
    bool chosenUnique = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (!constraint.usable || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ || constraint.iColumn < 0) continue;
        const auto& seekable = table.seekableColumns;
        if (std::find(seekable.begin(), seekable.end(), constraint.iColumn) == seekable.end()) continue;
        const auto& unique = table.uniqueColumns;
        const bool isUnique = std::find(unique.begin(), unique.end(), constraint.iColumn) != unique.end();
        if (chosen < 0 || (isUnique && !chosenUnique)) {
            chosen = i;
            chosenUnique = isUnique;
        }
    }
    if (chosen >= 0) {
        info->idxNum = info->aConstraint[chosen].iColumn + 1;
        info->aConstraintUsage[chosen].argvIndex = 1;
        info->aConstraintUsage[chosen].omit = 0;  // SQLite checks the value again: a search never adds a row
        info->estimatedCost = (chosenUnique ? 10.0 : 40.0) + std::log2(rows);
        info->estimatedRows = chosenUnique ? 1 : 10;
        if (chosenUnique) info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
        return SQLITE_OK;
    }
    info->idxNum = 0;
    info->estimatedCost = 10.0 * rows;
    info->estimatedRows = static_cast<sqlite3_int64>(rows);
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    auto* cursor = new (std::nothrow) Cursor;
    if (!cursor) return SQLITE_NOMEM;
    *out = &cursor->base;
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* cursor) {
    delete &cursorOf(cursor);
    return SQLITE_OK;
}

// The key of a search, when the value compared is a whole number; anything else is answered by a scan.
bool wholeKey(sqlite3_value* value, std::int64_t& key) {
    switch (sqlite3_value_numeric_type(value)) {
        case SQLITE_INTEGER: key = sqlite3_value_int64(value); return true;
        case SQLITE_FLOAT: {
            const double v = sqlite3_value_double(value);
            if (std::trunc(v) != v || std::fabs(v) > 9.0e15) return false;
            key = static_cast<std::int64_t>(v);
            return true;
        }
        default: return false;
    }
}

int xFilter(sqlite3_vtab_cursor* cursor, int idxNum, const char*, int argc, sqlite3_value** argv) {
    return guarded(cursor->pVtab, [&] {
        Table& table = tableOf(cursor);
        Cursor& c = cursorOf(cursor);
        // A new search starts afresh, keeping only the buffers it can reuse.
        RowBuffer buffer = std::move(c.buffer);
        c = Cursor{c.base};
        c.buffer = std::move(buffer);
        std::int64_t key = 0;
        if (idxNum > 0 && argc == 1 && wholeKey(argv[0], key)) {
            if (auto pointers = table.file->seek(table.index, idxNum - 1, key)) {
                c.seeking = true;
                c.pointers = std::move(*pointers);
            }
        }
        if (!c.seeking) c.pages = &table.file->dataPages(table.index);
        advance(table, c);
        return SQLITE_OK;
    });
}

int xNext(sqlite3_vtab_cursor* cursor) {
    return guarded(cursor->pVtab, [&] {
        advance(tableOf(cursor), cursorOf(cursor));
        return SQLITE_OK;
    });
}

int xEof(sqlite3_vtab_cursor* cursor) { return cursorOf(cursor).eof ? 1 : 0; }

int xColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
    const Cursor& c = cursorOf(cursor);
    if (!c.current || column < 0 || std::size_t(column) >= c.current->size()) {
        sqlite3_result_null(context);
        return SQLITE_OK;
    }
    const Value& v = (*c.current)[std::size_t(column)];
    switch (v.kind()) {
        case Value::Kind::Null: sqlite3_result_null(context); break;
        case Value::Kind::Integer: sqlite3_result_int64(context, v.asInteger()); break;
        case Value::Kind::Double:
        case Value::Kind::Date: sqlite3_result_double(context, v.asDouble()); break;
        case Value::Kind::Text: {
            // Told that the text ends in a NUL (when it holds none), SQLite copies that too and functions reading it
            // need no copy of their own.
            const std::string& text = v.asText();
            const bool plain = std::memchr(text.data(), 0, text.size()) == nullptr;
            sqlite3_result_text(context, text.c_str(), plain ? -1 : static_cast<int>(text.size()), SQLITE_TRANSIENT);
            break;
        }
    }
    return SQLITE_OK;
}

int xRowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
    *rowid = cursorOf(cursor).rowid;
    return SQLITE_OK;
}

sqlite3_module makeModule() {
    sqlite3_module module{};
    module.iVersion = 1;
    module.xCreate = xConnect;
    module.xConnect = xConnect;
    module.xBestIndex = xBestIndex;
    module.xDisconnect = xDisconnect;
    module.xDestroy = xDisconnect;
    module.xOpen = xOpen;
    module.xClose = xClose;
    module.xFilter = xFilter;
    module.xNext = xNext;
    module.xEof = xEof;
    module.xColumn = xColumn;
    module.xRowid = xRowid;
    return module;
}

const sqlite3_module kModule = makeModule();

// A text SQLite allocated, freed by its owner.
struct SqliteFree {
    void operator()(char* text) const noexcept { sqlite3_free(text); }
};

}  // namespace

namespace JetVirtualTable {

void attach(sqlite3* db, Source& source) {
    const JetFile& file = *source.file;
    if (sqlite3_create_module(db, "jet", &kModule, &source) != SQLITE_OK)
        throw RuntimeError(RuntimeError::DatabaseError,
                           std::string("cannot start the query engine: ") + sqlite3_errmsg(db));
    const auto& tables = file.tables();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const std::string sql =
            "CREATE VIRTUAL TABLE " + sqlQuoted(tables[i].name, '"') + " USING jet(" + std::to_string(i) + ")";
        char* message = nullptr;
        const int status = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
        const std::unique_ptr<char, SqliteFree> owned(message);
        if (status != SQLITE_OK)
            throw RuntimeError(RuntimeError::DatabaseError, "cannot serve table " + tables[i].name + ": " +
                                                                (message ? message : sqlite3_errmsg(db)));
    }
}

}  // namespace JetVirtualTable

#include "source/JetVirtualTable.h"

#include "runtime/RuntimeError.h"
#include "source/JetFile.h"
#include "source/JetFunctions.h"
#include "source/JetSql.h"
#include "source/TableRows.h"

#include <sqlite3.h>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <unordered_map>

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

struct Cursor {
    sqlite3_vtab_cursor base{};
    // What the search or scan found: kept rows, rows to decode one at a time into `own`, or data pages, read one
    // page at a time into `pageRows`.
    TableRows::Found found;
    // Every set of kept rows the cursor has walked since it was opened, up to a few thousand: the texts of the rows
    // held (`heldTexts`) are handed to SQLite without a copy, so they must outlive whatever SQLite holds of them,
    // until the statement ends.
    std::vector<std::shared_ptr<const TableRows::Rows>> held;
    bool heldTexts = false;
    // The columns the statement reads, as JetFile decodes them: a row decoded here leaves the others Null.
    std::uint64_t columns = kAllColumns;
    std::size_t next = 0;
    const std::vector<std::uint32_t>* pages = nullptr;
    std::size_t page = 0;
    std::vector<std::vector<Value>> pageRows;
    std::size_t pageRow = 0;
    std::vector<Value> own;
    // The rows decoded one at a time since the statement began, each in a buffer no later row of the statement
    // overwrites, so that their texts too are handed to SQLite without a copy; past the first few hundred, rows are
    // decoded into `own` and their texts copied. The buffers stay for the next statements.
    std::deque<std::vector<Value>> decoded;
    std::size_t decodedUsed = 0;

    // A chain every row must equal, when the query compares one with a text: its hidden column's slot (-1 for
    // none) and the text.
    int chain = -1;
    std::string chainText;
    // The chain last written for xColumn: its slot and row, and its text (nullopt for Null).
    int chainSlot = -1;
    sqlite3_int64 chainRow = -1;
    std::optional<std::string> chainValue;
    std::string scratch;

    const std::vector<Value>* current = nullptr;
    bool eof = true;
    sqlite3_int64 rowid = 0;

    // Forgets the last search, keeping the buffers it decoded into.
    void restart() {
        found.rows.reset();
        found.picks.reset();
        found.pointers.clear();
        found.pages = false;
        next = 0;
        pages = nullptr;
        page = 0;
        pageRows.clear();
        pageRow = 0;
        chain = -1;
        chainSlot = -1;
        chainRow = -1;
        chainValue.reset();
        heldTexts = false;
        current = nullptr;
        eof = true;
        rowid = 0;
    }
};

struct Table {
    sqlite3_vtab base{};
    JetVirtualTable::Source* source = nullptr;
    const JetFile* file = nullptr;
    std::size_t index = 0;
    std::unique_ptr<TableRows> rows;
    // Cursors closed, with their buffers, for the next statements: each query opens a cursor on each of its tables.
    std::vector<std::unique_ptr<Cursor>> spare;
    // Kept rows (a kept search's picks, or the whole kept table) by the chain of one slot, for the last few asked:
    // a declaration's movements are found by comparing its chain with those of its form's rows, once per
    // declaration. Kept rows never change while the reading lasts; the entry holds them, so they stay where they are.
    struct ChainIndex {
        std::shared_ptr<const TableRows::Rows> rows;
        std::shared_ptr<const TableRows::Picks> picks;
        int slot = -1;
        std::unordered_map<std::string, std::shared_ptr<const TableRows::Picks>> byChain;
    };
    std::vector<ChainIndex> chainIndexes;
    std::size_t nextChainIndex = 0;
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

// The chain of slot `slot` of the table for `row`, as jet_cat joins its columns; false for Null (every operand
// Null).
bool chainOf(const Table& table, int slot, const std::vector<Value>& row, std::string& out) {
    out.clear();
    bool any = false;
    for (const int column : table.source->chains[table.index][std::size_t(slot)])
        any |= appendJetCatOperand(out, row[std::size_t(column)]);
    return any;
}

// Whether the chain of slot `slot` of the table for `row` is `text`, told operand by operand: most rows differ in
// their first.
bool chainIs(const Table& table, int slot, const std::vector<Value>& row, std::string_view text, std::string& scratch) {
    bool any = false;
    for (const int column : table.source->chains[table.index][std::size_t(slot)]) {
        const Value& operand = row[std::size_t(column)];
        std::string_view written;
        if (operand.kind() == Value::Kind::Text) {
            written = operand.asText();
        } else {
            scratch.clear();
            if (!appendJetCatOperand(scratch, operand)) continue;
            written = scratch;
        }
        any = true;
        if (text.substr(0, written.size()) != written) return false;
        text.remove_prefix(written.size());
    }
    return any && text.empty();
}

// How many kept row sets a table indexes by their chains.
constexpr std::size_t kChainIndexes = 8;

// The kept rows found (`found.rows` at `found.picks`) whose chain of slot `slot` is `text`, in the order found.
std::shared_ptr<const TableRows::Picks> picksByChain(Table& table, const TableRows::Found& found, int slot,
                                                     const std::string& text) {
    auto& indexes = table.chainIndexes;
    auto index = std::find_if(indexes.begin(), indexes.end(), [&](const Table::ChainIndex& i) {
        return i.rows == found.rows && i.picks == found.picks && i.slot == slot;
    });
    if (index == indexes.end()) {
        Table::ChainIndex made{found.rows, found.picks, slot, {}};
        const TableRows::Rows& rows = *found.rows;
        const std::size_t count = found.picks ? found.picks->size() : rows.size();
        std::unordered_map<std::string, std::shared_ptr<TableRows::Picks>> byChain;
        std::string chain;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint32_t at = found.picks ? (*found.picks)[i] : std::uint32_t(i);
            // A Null chain equals no text.
            if (!chainOf(table, slot, rows[at], chain)) continue;
            auto& picks = byChain[chain];
            if (!picks) picks = std::make_shared<TableRows::Picks>();
            picks->push_back(at);
        }
        for (auto& [key, picks] : byChain) made.byChain.emplace(key, std::move(picks));
        if (indexes.size() < kChainIndexes) {
            indexes.push_back(std::move(made));
            index = indexes.end() - 1;
        } else {
            index = indexes.begin() + std::ptrdiff_t(table.nextChainIndex++ % kChainIndexes);
            *index = std::move(made);
        }
    }
    static const auto none = std::make_shared<const TableRows::Picks>();
    const auto it = index->byChain.find(text);
    return it == index->byChain.end() ? none : it->second;
}

// How many rows a cursor decodes one at a time into buffers of their own for a statement.
constexpr std::size_t kDecodedRows = 256;

// The next row found, whatever the chain; null past the last.
const std::vector<Value>* nextRow(Table& table, Cursor& c) {
    if (c.found.rows) {
        const TableRows::Rows& rows = *c.found.rows;
        if (!c.found.picks) return c.next < rows.size() ? &rows[c.next++] : nullptr;
        const TableRows::Picks& picks = *c.found.picks;
        return c.next < picks.size() ? &rows[picks[c.next++]] : nullptr;
    }
    if (c.found.pages) {
        while (c.pageRow >= c.pageRows.size()) {
            if (c.page >= c.pages->size()) return nullptr;
            c.pageRows.clear();
            c.pageRow = 0;
            table.file->rowsOnPage(table.index, (*c.pages)[c.page++], c.pageRows, nullptr, c.columns);
        }
        return &c.pageRows[c.pageRow++];
    }
    while (c.next < c.found.pointers.size()) {
        const bool hold = c.decodedUsed < kDecodedRows;
        if (hold && c.decodedUsed == c.decoded.size()) c.decoded.emplace_back();
        std::vector<Value>& into = hold ? c.decoded[c.decodedUsed] : c.own;
        if (table.file->rowAt(table.index, c.found.pointers[c.next++], into, c.columns)) {
            c.decodedUsed += hold;
            c.heldTexts = hold;
            return &into;
        }
    }
    return nullptr;
}

// How many closed cursors a table keeps for reuse: a statement opens one or two on each table.
constexpr std::size_t kSpareCursors = 4;
// How many sets of kept rows a cursor holds for the statement: a search of another key for every row of a long scan
// has its texts copied past them.
constexpr std::size_t kHeldRowSets = 4096;

// Moves to the next live row that equals the chain asked for, or to the end.
void advance(Table& table, Cursor& c) {
    c.eof = true;
    while (const std::vector<Value>* row = nextRow(table, c)) {
        // SQLite compares the chain again: rows left out here are only those it would leave out.
        if (c.chain >= 0 && !chainIs(table, c.chain, *row, c.chainText, c.scratch)) {
            // SQLite never saw the row: its buffer takes the next.
            if (c.decodedUsed > 0 && row == &c.decoded[c.decodedUsed - 1]) --c.decodedUsed;
            continue;
        }
        c.current = row;
        c.eof = false;
        ++c.rowid;
        return;
    }
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
    // The chains the table computes, as hidden columns: BLOB, so that SQLite converts neither them nor what they are
    // compared with, as it converts nothing for jet_cat's result.
    if (columns.empty()) schema += "\"\" BLOB";
    for (std::size_t k = 0; k < JetVirtualTable::kChainColumns; ++k)
        schema += ", " + sqlQuoted(JetVirtualTable::chainColumnName(k), '"') + " BLOB HIDDEN";
    schema += ")";
    const int rc = sqlite3_declare_vtab(db, schema.c_str());
    if (rc != SQLITE_OK) return rc;
    auto* table = new (std::nothrow) Table;
    if (!table) return SQLITE_NOMEM;
    table->source = source;
    table->file = file;
    table->index = index;
    try {
        table->rows = std::make_unique<TableRows>(*file, index);
    } catch (const std::bad_alloc&) {
        delete table;
        return SQLITE_NOMEM;
    }
    *out = &table->base;
    return SQLITE_OK;
}

int xDisconnect(sqlite3_vtab* vtab) {
    delete &tableOf(vtab);
    return SQLITE_OK;
}

// Where the hidden chain columns start: after the table's columns, or after the one stand-in column of a table
// without any.
int chainBase(const JetTableInfo& table) { return int(std::max<std::size_t>(table.columns.size(), 1)); }

// What xFilter is to do, packed into idxNum: the column searched through its index, plus one (bits 0-7); the text
// column looked up in the kept table, plus one (bits 8-15); the chain slot the rows must equal, plus one (bits
// 16-23). Its values come in that order.
constexpr int kSearched = 0, kLookedUp = 8, kChained = 16;
int planPart(int idxNum, int part) { return ((idxNum >> part) & 0xFF) - 1; }

// Weighs a search of a file index against a scan of the table: an equality on a seekable column wins, one on a
// column whose index allows each key once (one row) best of all, so that the engine searches from the most
// selective table inwards. Without one, an equality on a text column of a table kept whole is looked up in it.
// An equality of a chain with a text also leaves out the rows whose chain differs, and weighs nothing.
int xBestIndex(sqlite3_vtab* vtab, sqlite3_index_info* info) {
    const Table& owner = tableOf(vtab);
    const JetTableInfo& table = owner.file->tables()[owner.index];
    const double rows = std::max<double>(table.rowCountEstimate, 1.0);
    const int chains = int(owner.source->chains[owner.index].size());
    int chosen = -1, text = -1, chain = -1;
    bool chosenUnique = false;
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& constraint = info->aConstraint[i];
        if (!constraint.usable || constraint.op != SQLITE_INDEX_CONSTRAINT_EQ || constraint.iColumn < 0) continue;
        const int column = constraint.iColumn;
        if (column >= chainBase(table)) {
            if (chain < 0 && column - chainBase(table) < chains) chain = i;
            continue;
        }
        if (std::size_t(column) >= table.columns.size()) continue;
        const auto& seekable = table.seekableColumns;
        if (std::find(seekable.begin(), seekable.end(), column) == seekable.end()) {
            const JetType type = table.columns[std::size_t(column)].type;
            const char* collation = sqlite3_vtab_collation(info, i);
            if (text < 0 && (type == JetType::Text || type == JetType::Memo) && owner.rows->looksUpText() &&
                collation && sqlite3_stricmp(collation, "jet_text") == 0)
                text = i;
            continue;
        }
        const auto& unique = table.uniqueColumns;
        const bool isUnique = std::find(unique.begin(), unique.end(), column) != unique.end();
        if (chosen < 0 || (isUnique && !chosenUnique)) {
            chosen = i;
            chosenUnique = isUnique;
        }
    }
    info->idxNum = 0;
    int values = 0;
    // SQLite checks every value again: a search, a lookup or a chain never adds a row.
    const auto use = [&](int constraint, int part, int column) {
        info->idxNum |= (column + 1) << part;
        info->aConstraintUsage[constraint].argvIndex = ++values;
        info->aConstraintUsage[constraint].omit = 0;
    };
    if (chosen >= 0) {
        use(chosen, kSearched, info->aConstraint[chosen].iColumn);
        info->estimatedCost = (chosenUnique ? 10.0 : 40.0) + std::log2(rows);
        info->estimatedRows = chosenUnique ? 1 : 10;
        if (chosenUnique) info->idxFlags = SQLITE_INDEX_SCAN_UNIQUE;
    } else if (text >= 0) {
        use(text, kLookedUp, info->aConstraint[text].iColumn);
        info->estimatedCost = 40.0 + std::log2(rows);
        info->estimatedRows = 10;
    } else {
        info->estimatedCost = 10.0 * rows;
        info->estimatedRows = static_cast<sqlite3_int64>(rows);
    }
    if (chain >= 0) use(chain, kChained, info->aConstraint[chain].iColumn - chainBase(table));
    // The columns read, for xFilter: a chain needs its operands, which the mask does not tell.
    std::uint64_t columns = info->colUsed;
    if (columns >> std::min(chainBase(table), 63)) columns = kAllColumns;
    info->idxStr = sqlite3_mprintf("%llx", static_cast<unsigned long long>(columns));
    if (!info->idxStr) return SQLITE_NOMEM;
    info->needToFreeIdxStr = 1;
    return SQLITE_OK;
}

int xOpen(sqlite3_vtab* vtab, sqlite3_vtab_cursor** out) {
    Table& table = tableOf(vtab);
    Cursor* cursor = nullptr;
    if (!table.spare.empty()) {
        cursor = table.spare.back().release();
        table.spare.pop_back();
    } else {
        cursor = new (std::nothrow) Cursor;
        if (!cursor) return SQLITE_NOMEM;
    }
    *out = &cursor->base;
    return SQLITE_OK;
}

int xClose(sqlite3_vtab_cursor* cursor) {
    std::unique_ptr<Cursor> closed(&cursorOf(cursor));
    Table& table = tableOf(cursor);
    if (table.spare.size() < kSpareCursors) {
        // What it held goes; the buffers it decoded into stay for the next cursor.
        closed->restart();
        closed->held.clear();
        closed->decodedUsed = 0;
        try {
            table.spare.push_back(std::move(closed));
        } catch (const std::bad_alloc&) {}
    }
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

// The column mask xBestIndex wrote as hexadecimal digits.
std::uint64_t columnMask(const char* digits) noexcept {
    std::uint64_t mask = 0;
    for (; *digits; ++digits) {
        const char d = *digits;
        mask = mask << 4 | std::uint64_t(d <= '9' ? d - '0' : d - 'a' + 10);
    }
    return mask;
}

int xFilter(sqlite3_vtab_cursor* cursor, int idxNum, const char* idxStr, int argc, sqlite3_value** argv) {
    return guarded(cursor->pVtab, [&] {
        Table& table = tableOf(cursor);
        Cursor& c = cursorOf(cursor);
        c.restart();
        c.columns = idxStr ? columnMask(idxStr) : kAllColumns;
        int value = 0;
        const auto next = [&]() -> sqlite3_value* { return value < argc ? argv[value++] : nullptr; };
        bool found = false;
        if (const int column = planPart(idxNum, kSearched); column >= 0) {
            std::int64_t key = 0;
            sqlite3_value* v = next();
            found = v && wholeKey(v, key) && table.rows->seek(column, key, c.found);
        } else if (const int text = planPart(idxNum, kLookedUp); text >= 0) {
            // Only a text is looked up: SQLite compares any other value as it converts it.
            sqlite3_value* v = next();
            if (v && sqlite3_value_type(v) == SQLITE_TEXT) {
                const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
                table.rows->lookupText(text, std::string_view(bytes, std::size_t(sqlite3_value_bytes(v))), c.found);
                found = true;
            }
        }
        if (!found) {
            c.found.rows.reset();
            c.found.picks.reset();
            c.found.pointers.clear();
            table.rows->scan(c.found);
        }
        if (c.found.pages) c.pages = &table.file->dataPages(table.index);
        if (c.found.rows) {
            c.heldTexts = !c.held.empty() && c.held.back() == c.found.rows;
            if (!c.heldTexts && c.held.size() < kHeldRowSets) {
                c.held.push_back(c.found.rows);
                c.heldTexts = true;
            }
        }
        if (const int slot = planPart(idxNum, kChained); slot >= 0) {
            // A chain is text or Null: only a text can equal it.
            sqlite3_value* v = next();
            if (v && sqlite3_value_type(v) == SQLITE_TEXT) {
                c.chain = slot;
                const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(v));
                c.chainText.assign(bytes, std::size_t(sqlite3_value_bytes(v)));
                // Kept rows are looked up by their chain instead of compared one by one.
                if (c.found.rows) {
                    c.found.picks = picksByChain(table, c.found, slot, c.chainText);
                    c.chain = -1;
                }
            }
        }
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

// Sets the result to a text: SQLite's copy of it, or, for a text that outlives the statement unchanged (`kept`),
// the text itself. Its length is known: SQLite need not look for its end.
void resultText(sqlite3_context* context, const std::string& text, bool kept) {
    sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), kept ? SQLITE_STATIC : SQLITE_TRANSIENT);
}

int xColumn(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int column) {
    Cursor& c = cursorOf(cursor);
    if (c.current && column >= 0 && std::size_t(column) < c.current->size()) [[likely]] {
        const Value& v = (*c.current)[std::size_t(column)];
        switch (v.kind()) {
            case Value::Kind::Null: sqlite3_result_null(context); break;
            case Value::Kind::Integer: sqlite3_result_int64(context, v.asInteger()); break;
            case Value::Kind::Double:
            case Value::Kind::Date: sqlite3_result_double(context, v.asDouble()); break;
            case Value::Kind::Text: resultText(context, v.asText(), c.heldTexts); break;
        }
        return SQLITE_OK;
    }
    const Table& table = tableOf(cursor);
    const int slot = column - chainBase(table.file->tables()[table.index]);
    if (!c.current || column < 0 || slot < 0 || std::size_t(slot) >= table.source->chains[table.index].size()) {
        sqlite3_result_null(context);
        return SQLITE_OK;
    }
    // A row's chain is written once: the rows of a table searched by a unique key stay while the rows joined to them
    // go by.
    if (c.chainSlot != slot || c.chainRow != c.rowid) {
        std::string text = c.chainValue ? std::move(*c.chainValue) : std::string();
        c.chainValue = chainOf(table, slot, *c.current, text) ? std::optional(std::move(text)) : std::nullopt;
        c.chainSlot = slot;
        c.chainRow = c.rowid;
    }
    if (c.chainValue)
        resultText(context, *c.chainValue, false);
    else
        sqlite3_result_null(context);
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

std::string chainColumnName(std::size_t slot) { return "jet.chain." + std::to_string(slot); }

std::optional<std::string> chainColumn(Source& source, std::size_t table, const std::vector<int>& columns) {
    std::vector<std::vector<int>>& chains = source.chains[table];
    const auto known = std::find(chains.begin(), chains.end(), columns);
    if (known != chains.end()) return chainColumnName(std::size_t(known - chains.begin()));
    if (chains.size() == kChainColumns) return std::nullopt;
    chains.push_back(columns);
    return chainColumnName(chains.size() - 1);
}

void attach(sqlite3* db, Source& source) {
    const JetFile& file = *source.file;
    source.chains.assign(file.tables().size(), {});
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

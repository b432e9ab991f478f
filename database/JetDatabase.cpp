#include "database/JetDatabase.h"

#include "database/JetTextOrder.h"
#include "database/MovementStream.h"
#include "database/TaxpayerOrder.h"
#include "jetfile/JetDamage.h"
#include "jetfile/JetFile.h"
#include "jetfile/JetHeader.h"
#include "jetfile/PageSource.h"
#include "platform/Clock.h"
#include "runtime/RuntimeError.h"

#include <algorithm>
#include <array>
#include <map>
#include <type_traits>
#include <unordered_map>

namespace {

// The program's tables and the columns it reads of each, in the order of the enums below.
enum class Table { CMD, Form_Cp01, Form_Sid3, retenciones, Percepciones };
constexpr std::array<const char*, 5> kTableNames = {"CMD", "Form_Cp01", "Form_Sid3", "retenciones", "Percepciones"};

enum CmdColumn { CMD_ID, CMD_NumRef, CMD_Contribuyente };
enum Cp01Column { Cp01_CP01_ID, Cp01_Cmd_ID, CP01_IngBrut };
enum Sid3Column { Sid_ID, Sid3_CP01_ID, Sid_Año, Sid_Mes, Sid_Tramite, Sid_Orden, Sid_operacion };
enum MovementColumn {
    Per_Sid_ID,
    Per_Fecha,
    Per_Año,
    Per_Mes,
    Per_CUIT,
    Per_NumAgenteRet,
    Per_Responsable,
    Per_Concepto,
    Per_Monto,
    Per_Monto1
};
const std::vector<std::vector<const char*>> kColumnNames = {
    {"CMD_ID", "CMD_NumRef", "CMD_Contribuyente"},
    {"CP01_ID", "Cmd_ID", "CP01_IngBrut"},
    {"Sid_ID", "CP01_ID", "Sid_Año", "Sid_Mes", "Sid_Tramite", "Sid_Orden", "Sid_operacion"},
    {"Sid_ID", "Per_Fecha", "Per_Año", "Per_Mes", "Per_CUIT", "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto",
     "Per_Monto", "Per_Monto1"},
    {"Sid_ID", "Per_Fecha", "Per_Año", "Per_Mes", "Per_CUIT", "Per_NumAgenteRet", "Per_Responsable", "Per_Concepto",
     "Per_Monto", "Per_Monto1"}};

// A row of one of the program's tables, its columns in the order of the table's enum.
template <std::size_t N>
struct Row {
    std::array<Value, N> values;
    std::array<Value*, N> into;
    Row() {
        for (std::size_t i = 0; i < N; ++i) into[i] = &values[i];
    }
    Value& operator[](std::size_t i) { return values[i]; }
    const Value& operator[](std::size_t i) const { return values[i]; }
};
using CmdRow = Row<3>;
using Cp01Row = Row<3>;
using Sid3Row = Row<7>;

// Whether a key column's value is the whole number `key`; a Null is no number.
bool isKey(const Value& value, std::int64_t key) {
    if (value.kind() == Value::Kind::Integer) return value.asInteger() == key;
    if (value.kind() == Value::Kind::Double) return value.asDouble() == static_cast<double>(key);
    return false;
}

// The whole number a key column holds, for joining on it; nullopt for a Null or a number with a fraction.
std::optional<std::int64_t> keyOf(const Value& value) {
    if (value.kind() == Value::Kind::Integer) return value.asInteger();
    if (value.kind() != Value::Kind::Double) return std::nullopt;
    const double v = value.asDouble();
    if (!(v >= -9.0e15 && v <= 9.0e15) || static_cast<double>(static_cast<std::int64_t>(v)) != v) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

// A declaration's ordering key: its year, month, filing kind and sequence number joined as `&` joins them.
std::optional<std::string> orderingKey(const Sid3Row& declaration) {
    std::string key;
    bool any = false;
    for (const int column : {Sid_Año, Sid_Mes, Sid_Tramite, Sid_Orden})
        any |= appendJetCatOperand(key, declaration[std::size_t(column)]);
    return any ? std::optional(std::move(key)) : std::nullopt;
}

bool isOperation0or1(const Value& operation) { return isKey(operation, 0) || isKey(operation, 1); }

// A declaration as the reads use it.
struct Declaration {
    Value Sid_ID;
    Value CP01_ID;
    Value Sid_Año;
    Value Sid_Mes;
    Value Sid_operacion;
    std::optional<std::string> maximo;  // its ordering key
    // Whether its form is a whole number and its year and month texts of ASCII characters without capitals, as
    // nearly every declaration's are: Jet's order of them is then the order of the numbers and of the bytes.
    bool plain = false;
};

bool plainText(const Value& v) {
    return v.kind() == Value::Kind::Text && std::all_of(v.asText().begin(), v.asText().end(), [](char c) {
               return (c & 0x80) == 0 && !(c >= 'A' && c <= 'Z');
           });
}

// The order in which a taxpayer's declarations are grouped: by form, year and month in the order of values.
int compareGroup(const Declaration* a, const Declaration* b) {
    if (a->plain && b->plain) {
        const std::int64_t x = a->CP01_ID.asInteger(), y = b->CP01_ID.asInteger();
        if (x != y) return x < y ? -1 : 1;
        if (const int order = a->Sid_Año.asText().compare(b->Sid_Año.asText()); order != 0) return order < 0 ? -1 : 1;
        const int order = a->Sid_Mes.asText().compare(b->Sid_Mes.asText());
        return order < 0 ? -1 : (order > 0 ? 1 : 0);
    }
    if (const int order = compareJetValues(a->CP01_ID, b->CP01_ID); order != 0) return order;
    if (const int order = compareJetValues(a->Sid_Año, b->Sid_Año); order != 0) return order;
    return compareJetValues(a->Sid_Mes, b->Sid_Mes);
}

// What `kept` holds for `key`, read by `read` into a value of its own the first time. A read that fails keeps
// nothing: the next asks again.
template <typename Map, typename Key, typename Read>
const typename Map::mapped_type& keptOrRead(Map& kept, const Key& key, Read read) {
    if (const auto known = kept.find(key); known != kept.end()) return known->second;
    typename Map::mapped_type made;
    read(made);
    return kept.emplace(key, std::move(made)).first->second;
}

// One reading of the file, and what its reads keep of it for the reads after them: the tables' definitions and the
// taxpayers by reference for all of them; a taxpayer's forms and declarations, asked for by each of its
// declarations, until another taxpayer's declarations are read.
class JetReading final : public Reading {
public:
    JetReading(std::unique_ptr<PageSource> source, const std::string& password, const Clock& clock)
        : m_file(std::move(source), password, clock), m_path(m_file.name()) {}

    std::vector<TaxpayerRow> taxpayers() override;
    std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) override;
    std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) override;
    std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) override;
    void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                   const MovementVisitor& visit) override;
    void expectMovements(std::span<const std::int32_t> taxpayers, const PeriodFilter& periods) override {
        m_plannedTaxpayers.assign(taxpayers.begin(), taxpayers.end());
        m_plannedPeriods = periods;
        m_stream.reset();
        m_streamTried = false;
    }
    bool unchanged() const override { return !m_file.changed(); }
    bool current() const override { return m_file.current(); }

private:
    // Runs `read`; what looks damaged in a file that changed since the reading began is the writer's work in
    // progress.
    template <typename Read>
    auto guarded(Read read) -> decltype(read()) {
        try {
            return read();
        } catch (const RuntimeError& e) {
            if (e.Number() == RuntimeError::DatabaseError && m_file.changed()) throw fileChanged(m_path);
            throw;
        }
    }

    // The values of a movement row after its Sid_ID.
    static constexpr std::size_t kMovementValues = 9;

    // Calls `visit` with each row of movement table `which` of declaration `declaration` decoded into `into` (its
    // Sid_ID first), from the rows read ahead for a batch; false when they were not read ahead.
    bool readAhead(Table which, std::int32_t declaration, Value* const* into, const std::function<void()>& visit) {
        if (m_plannedTaxpayers.empty()) return false;
        if (!m_streamTried) {
            m_streamTried = true;
            try {
                if (!fillStream()) m_stream.reset();
            } catch (const RuntimeError& e) {
                if (e.Number() != RuntimeError::DatabaseError || m_file.changed()) throw;
                // A damaged page met on the way is met, or not, where each declaration's rows are searched.
                m_stream.reset();
            }
        }
        if (!m_stream || !m_stream->planned(declaration)) return false;
        into[0]->setInteger(declaration);
        const Found& movements = table(which);
        const std::span<const int> values(movements.columns.data() + 1, kMovementValues);
        return m_stream->serve(which == Table::retenciones ? 0 : 1, declaration, [&](std::string_view row) {
            m_file.decodeRowBytes(movements.index, row, values, into + 1);
            visit();
        });
    }

    // Plans `stream`: the declarations of the planned taxpayers' forms whose periods the batch may export, grouped by
    // taxpayer as planned, each taxpayer's in the order of the declarations' table (for the files in use, by month),
    // which is the order the batch's exports ask for their movements, near enough. The declarations are read twice,
    // to count each group's, then to place each, so that a plan of millions takes a few bytes each.
    void planStream(MovementStream& stream) {
        std::vector<std::pair<std::int32_t, std::int32_t>> taxpayers;  // CMD_ID and place in the plan
        for (const std::int32_t key : m_plannedTaxpayers) taxpayers.emplace_back(key, std::int32_t(taxpayers.size()));
        std::stable_sort(taxpayers.begin(), taxpayers.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        const auto placeOf = [](const auto& sorted, std::int64_t key) -> std::optional<std::int32_t> {
            const auto it = std::lower_bound(sorted.begin(), sorted.end(), key,
                                             [](const auto& entry, std::int64_t k) { return entry.first < k; });
            if (it == sorted.end() || it->first != key) return std::nullopt;
            return it->second;
        };
        // Each form of a planned taxpayer, with its taxpayer's place.
        std::vector<std::pair<std::int64_t, std::int32_t>> forms;
        Cp01Row form;
        const Found& cp01 = table(Table::Form_Cp01);
        m_file.scan(cp01.index, cp01.columns, form.into.data(), [&](RowPointer) {
            const std::optional<std::int64_t> id = keyOf(form[Cp01_CP01_ID]), owner = keyOf(form[Cp01_Cmd_ID]);
            if (id && owner)
                if (const auto place = placeOf(taxpayers, *owner)) forms.emplace_back(*id, *place);
            return true;
        });
        std::sort(forms.begin(), forms.end());
        Sid3Row declaration;
        const Found& sid3 = table(Table::Form_Sid3);
        const int columns[] = {sid3.columns[Sid_ID], sid3.columns[Sid3_CP01_ID], sid3.columns[Sid_Año],
                               sid3.columns[Sid_Mes]};
        Value* const into[] = {&declaration[Sid_ID], &declaration[Sid3_CP01_ID], &declaration[Sid_Año],
                               &declaration[Sid_Mes]};
        for (const bool placing : {false, true}) {
            m_file.scan(sid3.index, columns, into, [&](RowPointer) {
                const std::optional<std::int64_t> id = keyOf(declaration[Sid_ID]),
                                                  owner = keyOf(declaration[Sid3_CP01_ID]);
                if (!id || !owner || *id < INT32_MIN || *id > INT32_MAX) return true;
                const auto place = placeOf(forms, *owner);
                if (!place || !m_plannedPeriods(declaration[Sid_Año], declaration[Sid_Mes])) return true;
                if (placing)
                    stream.place(std::size_t(*place), std::int32_t(*id));
                else
                    stream.plan(std::size_t(*place), std::int32_t(*id));
                return true;
            });
        }
    }

    // Reads the movement tables for the declarations planned: once to count each one's rows (from the table's index
    // on Sid_ID, which lists them in far fewer pages, where it has one), once to keep them. False when the index
    // does not list its entries in order: each declaration's rows are then searched, as the index gives them.
    bool fillStream() {
        const Table tables[] = {Table::retenciones, Table::Percepciones};
        if (m_plannedPeriods == nullptr) return false;
        // A row is kept as its bytes and decoded when its turn comes; a memo's text lies elsewhere.
        for (const Table which : tables) {
            const Found& movements = table(which);
            const JetTableInfo& info = m_file.table(movements.index);
            for (std::size_t c = 1; c < movements.columns.size(); ++c)
                if (info.columns[std::size_t(movements.columns[c])].type == JetType::Memo) return false;
        }
        m_stream = std::make_unique<MovementStream>(m_plannedTaxpayers.size());
        planStream(*m_stream);
        bool listed[2] = {false, false};
        Value sid;
        Value* const intoSid[] = {&sid};
        for (std::size_t t = 0; t < 2; ++t) {
            const Found& movements = table(tables[t]);
            const int column = movements.columns[Per_Sid_ID];
            // A search meets a key's rows in the order of their places, as the index's entries come.
            std::optional<std::pair<std::int32_t, std::uint32_t>> last;
            bool ordered = true;
            listed[t] = m_file.indexEntries(movements.index, column, [&](std::int32_t key, RowPointer at) {
                const std::uint32_t place = at.page << 8 | at.row;
                ordered = ordered && (!last || last->first < key || (last->first == key && last->second < place));
                last = {key, place};
                m_stream->count(t, key, place, true);
            });
            if (!ordered) return false;
            if (!listed[t])
                m_file.scan(movements.index, std::span(&column, 1), intoSid, [&](RowPointer at) {
                    if (const std::optional<std::int64_t> key = keyOf(sid))
                        m_stream->count(t, *key, at.page << 8 | at.row, false);
                    return true;
                });
        }
        m_stream->arrange();
        for (std::size_t t = 0; t < 2; ++t) {
            const Found& movements = table(tables[t]);
            const int column = movements.columns[Per_Sid_ID];
            m_file.scanBytes(movements.index, [&](RowPointer at, std::string_view row) {
                m_file.decodeRowBytes(movements.index, row, std::span(&column, 1), intoSid);
                const std::optional<std::int64_t> key = keyOf(sid);
                if (key && m_stream->planned(*key)) m_stream->add(t, *key, at.page << 8 | at.row, listed[t], row);
                return true;
            });
        }
        m_stream->finish();
        return true;
    }

    // A table of the program: where it is in the file and where its columns are.
    struct Found {
        std::size_t index;
        std::vector<int> columns;  // positions among the table's columns, in the order of its enum
    };

    const Found& table(Table which) {
        std::optional<Found>& known = m_tables[std::size_t(which)];
        if (known) return *known;
        const char* name = kTableNames[std::size_t(which)];
        const std::vector<std::string>& names = m_file.tableNames();
        const auto named =
            std::find_if(names.begin(), names.end(), [&](const std::string& t) { return sameName(t, name); });
        if (named == names.end())
            throw RuntimeError(RuntimeError::DatabaseError, "La base de datos " + m_path + " no tiene la tabla " +
                                                                name + ": no es la del programa de la agencia");
        Found made{std::size_t(named - names.begin()), {}};
        const JetTableInfo* info = &m_file.table(made.index);
        for (const char* column : kColumnNames[std::size_t(which)]) {
            const auto at = std::find_if(info->columns.begin(), info->columns.end(),
                                         [&](const JetColumn& c) { return sameName(c.name, column); });
            if (at == info->columns.end())
                throw RuntimeError(RuntimeError::DatabaseError, "La base de datos " + m_path + " no tiene la columna " +
                                                                    column + " en la tabla " + info->name +
                                                                    ": no es la del programa de la agencia");
            made.columns.push_back(int(at - info->columns.begin()));
        }
        return *(known = std::move(made));
    }

    // Calls `visit` with every row of `which` whose whole-number column `column` is `key`, decoded into `into`
    // (the table's columns in the order of its enum): in the order of the column's index where the file has one
    // that can be searched, else in the order the table stores them.
    template <typename Visit>
    void where(Table which, int column, std::int64_t key, Value* const* into, Visit visit) {
        const Found& t = table(which);
        const Value& value = *into[std::size_t(column)];
        // The rows the index gives are listed in a list kept for the reading, lent to one search at a time.
        std::vector<RowPointer> pointers = std::move(m_found);
        if (m_file.seek(t.index, t.columns[std::size_t(column)], key, pointers)) {
            // The index is only a way to the rows: each is checked as a scan would check it.
            for (const RowPointer pointer : pointers)
                if (m_file.rowAt(t.index, pointer, t.columns, into) && isKey(value, key)) visit();
            m_found = std::move(pointers);
            return;
        }
        m_file.scan(t.index, t.columns, into, [&](RowPointer) {
            if (isKey(value, key)) visit();
            return true;
        });
    }

    // The declarations of form `form`, in the order `where` finds them; read once per reading.
    const std::vector<Declaration>& declarationsOf(std::int64_t form) {
        return keptOrRead(m_declarations, form, [&](std::vector<Declaration>& found) {
            Sid3Row row;
            where(Table::Form_Sid3, Sid3_CP01_ID, form, row.into.data(), [&] {
                found.push_back({row[Sid_ID], row[Sid3_CP01_ID], row[Sid_Año], row[Sid_Mes], row[Sid_operacion],
                                 orderingKey(row),
                                 row[Sid3_CP01_ID].kind() == Value::Kind::Integer && plainText(row[Sid_Año]) &&
                                     plainText(row[Sid_Mes])});
            });
        });
    }

    // The Sid_ID of the first declaration of form `form` with each ordering key.
    const std::map<std::string, Value, std::less<>>& declarationIdsOf(std::int64_t form) {
        return keptOrRead(m_declarationIds, form, [&](std::map<std::string, Value, std::less<>>& ids) {
            for (const Declaration& declaration : declarationsOf(form))
                if (declaration.maximo) ids.try_emplace(*declaration.maximo, declaration.Sid_ID);
        });
    }

    // The forms (CP01_ID with CP01_IngBrut) with key `form` whose taxpayer is `taxpayer`.
    const std::vector<Value>& formsOf(std::int64_t form, std::int64_t taxpayer) {
        return keptOrRead(m_forms, std::pair(form, taxpayer), [&](std::vector<Value>& found) {
            Cp01Row row;
            where(Table::Form_Cp01, Cp01_CP01_ID, form, row.into.data(), [&] {
                if (isKey(row[Cp01_Cmd_ID], taxpayer)) found.push_back(row[CP01_IngBrut]);
            });
        });
    }

    // The references (CMD_NumRef) of the taxpayers with key `taxpayer`.
    const std::vector<Value>& referencesOf(std::int64_t taxpayer) {
        return keptOrRead(m_references, taxpayer, [&](std::vector<Value>& found) {
            CmdRow row;
            where(Table::CMD, CMD_ID, taxpayer, row.into.data(), [&] { found.push_back(row[CMD_NumRef]); });
        });
    }

    // Forgets what the reads kept of the taxpayer they read last; what was learnt of the whole file stays.
    void forgetTaxpayer() {
        m_declarations.clear();
        m_declarationIds.clear();
        m_forms.clear();
        m_references.clear();
        m_groupedTaxpayer.reset();
        m_byId.clear();
    }

    JetFile m_file;
    std::string m_path;
    std::array<std::optional<Found>, 5> m_tables;
    std::vector<RowPointer> m_found;  // see where()
    Movement m_movement;              // the movements' values, whose texts keep their buffers from row to row
    std::map<std::int64_t, std::vector<Declaration>> m_declarations;                     // by CP01_ID
    std::map<std::int64_t, std::map<std::string, Value, std::less<>>> m_declarationIds;  // by CP01_ID
    std::map<std::pair<std::int64_t, std::int64_t>, std::vector<Value>> m_forms;         // by CP01_ID and Cmd_ID
    std::map<std::int64_t, std::vector<Value>> m_references;                             // by CMD_ID
    // The taxpayer whose forms' declarations were all read, and those declarations by Sid_ID.
    std::optional<std::int64_t> m_groupedTaxpayer;
    std::multimap<std::int64_t, const Declaration*> m_byId;
    // The taxpayers' rows by the folded text of their references, in the order stored, once a reading has looked
    // a second taxpayer up.
    int m_referenceLookups = 0;
    std::optional<std::unordered_map<std::string, std::vector<RowPointer>>> m_byReference;
    // The taxpayers a batch will export and the periods it may export, and their movements once read ahead.
    std::vector<std::int32_t> m_plannedTaxpayers;
    PeriodFilter m_plannedPeriods;
    std::unique_ptr<MovementStream> m_stream;
    bool m_streamTried = false;
};

std::vector<TaxpayerRow> JetReading::taxpayers() {
    return guarded([&] {
        std::vector<TaxpayerRow> rows;
        std::vector<RowPointer> places;
        CmdRow row;
        const Found& cmd = table(Table::CMD);
        m_file.scan(cmd.index, cmd.columns, row.into.data(), [&](RowPointer at) {
            rows.push_back({row[CMD_NumRef], row[CMD_Contribuyente]});
            places.push_back(at);
            return true;
        });
        std::vector<RowPointer> nameIndex;
        const bool indexed = m_file.inIndexOrder(cmd.index, cmd.columns[CMD_Contribuyente], nameIndex);
        std::vector<TaxpayerRow> sorted;
        sorted.reserve(rows.size());
        for (const std::size_t i : taxpayerOrder(rows, places, indexed ? &nameIndex : nullptr))
            sorted.push_back(std::move(rows[i]));
        return sorted;
    });
}

std::optional<FoundTaxpayer> JetReading::taxpayerByReference(std::string_view reference) {
    return guarded([&] {
        std::optional<FoundTaxpayer> found;
        CmdRow row;
        const Found& cmd = table(Table::CMD);
        const int numRef[] = {cmd.columns[CMD_NumRef]}, idAndNumRef[] = {cmd.columns[CMD_ID], cmd.columns[CMD_NumRef]};
        Value* const intoNumRef[] = {&row[CMD_NumRef]};
        Value* const intoIdAndNumRef[] = {&row[CMD_ID], &row[CMD_NumRef]};
        // Two ASCII texts are equal only at the same length: most references are told apart by that alone.
        const bool asciiReference =
            std::all_of(reference.begin(), reference.end(), [](char c) { return (c & 0x80) == 0; });
        const auto matches = [&] {
            const Value& stored = row[CMD_NumRef];
            if (stored.kind() != Value::Kind::Text) return false;
            const std::string& text = stored.asText();
            if (asciiReference && text.size() != reference.size() &&
                std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; }))
                return false;
            return equalJetText(text, reference);
        };
        // The first lookup of a reading reads the references up to the first that matches; a second one (the
        // exports of a batch) reads them all once, by their folded texts, and then only the rows that fold alike.
        std::vector<RowPointer> candidates;
        if (m_referenceLookups++ == 0 || reference.find('\0') != std::string_view::npos) {
            m_file.scan(cmd.index, numRef, intoNumRef, [&](RowPointer at) {
                if (!matches()) return true;
                candidates.push_back(at);
                return false;
            });
        } else {
            if (!m_byReference) {
                std::unordered_map<std::string, std::vector<RowPointer>> byReference;
                m_file.scan(cmd.index, numRef, intoNumRef, [&](RowPointer at) {
                    const Value& stored = row[CMD_NumRef];
                    if (stored.kind() == Value::Kind::Text)
                        byReference[JetTextKey(stored.asText()).folded()].push_back(at);
                    return true;
                });
                m_byReference = std::move(byReference);
            }
            const auto alike = m_byReference->find(JetTextKey(reference).folded());
            if (alike != m_byReference->end()) candidates = alike->second;
        }
        for (const RowPointer at : candidates)
            if (m_file.rowAt(cmd.index, at, idAndNumRef, intoIdAndNumRef) && matches())
                return std::optional(FoundTaxpayer{row[CMD_ID], row[CMD_NumRef]});
        return found;
    });
}

std::vector<DeclarationGroup> JetReading::declarationGroups(std::int32_t taxpayer) {
    return guarded([&] {
        std::vector<DeclarationGroup> groups;
        if (m_groupedTaxpayer != taxpayer) forgetTaxpayer();
        if (referencesOf(taxpayer).empty()) return groups;
        std::vector<std::int64_t> forms;
        Cp01Row form;
        where(Table::Form_Cp01, Cp01_Cmd_ID, taxpayer, form.into.data(), [&] {
            if (const std::optional<std::int64_t> cp01 = keyOf(form[Cp01_CP01_ID])) forms.push_back(*cp01);
        });
        // Every declaration of the taxpayer's forms is known from here on: a declaration's movements are read with
        // what was read here. Those of operation 0 or 1 are grouped.
        m_byId.clear();
        std::vector<const Declaration*> counted;
        for (const std::int64_t cp01 : forms) {
            for (const Declaration& declaration : declarationsOf(cp01)) {
                if (const std::optional<std::int64_t> sid = keyOf(declaration.Sid_ID))
                    m_byId.emplace(*sid, &declaration);
                if (isOperation0or1(declaration.Sid_operacion)) counted.push_back(&declaration);
            }
        }
        m_groupedTaxpayer = taxpayer;
        // Groups by form, year and month, in that order: the order of groups whose keys are equal. A group takes
        // its year and month from its first declaration.
        std::stable_sort(counted.begin(), counted.end(),
                         [&](const Declaration* a, const Declaration* b) { return compareGroup(a, b) < 0; });
        for (std::size_t first = 0, last; first < counted.size(); first = last) {
            const Declaration& head = *counted[first];
            const std::string* maximo = nullptr;
            for (last = first; last < counted.size() && compareGroup(counted[first], counted[last]) == 0; ++last) {
                const std::optional<std::string>& key = counted[last]->maximo;
                if (key && (!maximo || *key > *maximo)) maximo = &*key;
            }
            groups.push_back({head.CP01_ID, head.Sid_Año, head.Sid_Mes, maximo ? Value::text(*maximo) : Value()});
        }
        std::vector<std::size_t> order(groups.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            const Value &a = groups[x].maximo, &b = groups[y].maximo;
            if (a.isNull() || b.isNull()) return a.isNull() && !b.isNull();
            return a.asText() < b.asText();
        });
        std::vector<DeclarationGroup> ordered;
        ordered.reserve(groups.size());
        for (const std::size_t i : order) ordered.push_back(std::move(groups[i]));
        return ordered;
    });
}

std::optional<Value> JetReading::declarationId(std::int32_t form, std::string_view maximo) {
    return guarded([&]() -> std::optional<Value> {
        const auto& ids = declarationIdsOf(form);
        const auto found = ids.find(maximo);
        if (found == ids.end()) return std::nullopt;
        return found->second;
    });
}

void JetReading::movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                           const MovementVisitor& visit) {
    guarded([&] {
        // The declaration's forms of the taxpayer, with the taxpayer, as the joins meet them: the declarations
        // with that key (those of the taxpayer's forms, when its groups were read), each form of the taxpayer they
        // are on, and each taxpayer with its key.
        std::vector<std::pair<Value, Value>> joined;  // CMD_NumRef and CP01_IngBrut
        const auto join = [&](const Value& cp01) {
            const std::optional<std::int64_t> form = keyOf(cp01);
            if (!form) return;
            for (const Value& registration : formsOf(*form, taxpayer))
                for (const Value& reference : referencesOf(taxpayer)) joined.emplace_back(reference, registration);
        };
        if (m_groupedTaxpayer == taxpayer) {
            const auto [first, last] = m_byId.equal_range(declaration);
            for (auto it = first; it != last; ++it) join(it->second->CP01_ID);
        } else {
            Sid3Row row;
            std::vector<Value> forms;
            where(Table::Form_Sid3, Sid_ID, declaration, row.into.data(), [&] { forms.push_back(row[Sid3_CP01_ID]); });
            for (const Value& cp01 : forms) join(cp01);
        }
        if (joined.empty()) return;
        const Table movements = table == MovementTable::Retenciones ? Table::retenciones : Table::Percepciones;
        Movement& movement = m_movement;
        movement.tipo.setText() = table == MovementTable::Retenciones ? "R" : "P";
        Value sid;
        Value* const into[] = {&sid,
                               &movement.Per_Fecha,
                               &movement.Per_Año,
                               &movement.Per_Mes,
                               &movement.Per_CUIT,
                               &movement.Per_NumAgenteRet,
                               &movement.Per_Responsable,
                               &movement.Per_Concepto,
                               &movement.Per_Monto,
                               &movement.Per_Monto1};
        for (const auto& [reference, registration] : joined) {
            movement.CMD_NumRef = reference;
            movement.CP01_IngBrut = registration;
            const auto each = [&] { visit(movement); };
            if (!readAhead(movements, declaration, into, each)) where(movements, Per_Sid_ID, declaration, into, each);
        }
    });
}

}  // namespace

JetDatabase::JetDatabase(std::string path, std::string password)
    : JetDatabase([path] { return openFileSource(path); }, std::move(password), systemClock()) {}

JetDatabase::JetDatabase(OpenSource open, std::string password, Clock& clock)
    : m_open(std::move(open)), m_password(std::move(password)), m_clock(clock) {
    read();
}

JetDatabase::~JetDatabase() = default;

std::unique_ptr<Reading> JetDatabase::read() {
    if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "La base de datos está cerrada");
    return std::make_unique<JetReading>(m_open(), m_password, m_clock);
}

void JetDatabase::waitForWriter() { m_clock.sleep(kFileSettles + std::chrono::milliseconds(5)); }

bool JetDatabase::waitUntilSettled(std::chrono::milliseconds bound, const std::function<void()>& waiting) {
    const std::int64_t settledFor = std::chrono::nanoseconds(kSettledFor).count();
    const std::int64_t ahead = std::chrono::nanoseconds(kFileSettles).count();
    const std::int64_t until = m_clock.now() + std::chrono::nanoseconds(bound).count();
    bool waited = false;
    for (;;) {
        // The file under its name now, which a writer may have put there since the last look.
        const std::int64_t now = m_clock.now();
        const std::int64_t age = now - m_open()->stamp().modified;
        // A time further ahead of the clock than a tick is a file server's clock, not a write under way.
        if (age >= settledFor || age <= -ahead) return true;
        if (now >= until) return false;
        if (waiting && !waited) waiting();
        waited = true;
        const std::int64_t wait = std::min(settledFor - std::max<std::int64_t>(age, 0), until - now);
        m_clock.sleep(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(wait)) +
                      std::chrono::milliseconds(1));
    }
}

void JetDatabase::Close() { m_closed = true; }

namespace {

class JetWorkspace : public Workspace {
public:
    std::unique_ptr<Database> OpenDatabase(const std::string& path, bool /*exclusive*/, bool /*readOnly*/,
                                           const std::string& connect) override {
        // The program only reads: the file is always opened read-only, whatever the caller asks.
        return std::make_unique<JetDatabase>(path, passwordFromConnect(connect));
    }
    void Close() override {}
};

}  // namespace

std::unique_ptr<Workspace> Workspaces0() { return std::make_unique<JetWorkspace>(); }

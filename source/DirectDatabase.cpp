#include "source/DirectDatabase.h"

#include "runtime/RuntimeError.h"
#include "source/JetDamage.h"
#include "source/JetFile.h"
#include "source/JetTextOrder.h"

#include <algorithm>
#include <array>
#include <map>
#include <type_traits>

namespace {

// How many times a read, or a command, is made again on a file that changed while it was read.
constexpr int kReadings = 4;

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
using Row = std::vector<Value>;

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
std::optional<std::string> orderingKey(const Row& declaration) {
    std::string key;
    bool any = false;
    for (const int column : {Sid_Año, Sid_Mes, Sid_Tramite, Sid_Orden})
        any |= appendJetCatOperand(key, declaration[std::size_t(column)]);
    return any ? std::optional(std::move(key)) : std::nullopt;
}

bool isOperation0or1(const Value& operation) { return isKey(operation, 0) || isKey(operation, 1); }

}  // namespace

// One reading of the file: what a read, or every read of a command, takes from it.
struct DirectDatabase::Reading {
    Reading(const std::string& path, const std::string& password) : file(path, password), path(path) {}

    // A table of the program: where it is in the file and where its columns are.
    struct Found {
        std::size_t index;
        std::vector<int> columns;  // positions among the table's columns, in the order of its enum
        std::uint64_t everyColumn = 0;
    };

    const Found& table(Table which) {
        std::optional<Found>& found = tables[std::size_t(which)];
        if (found) return *found;
        const char* name = kTableNames[std::size_t(which)];
        const std::vector<JetTableInfo>& all = file.tables();
        const auto info = std::find_if(all.begin(), all.end(),
                                       [&](const JetTableInfo& t) { return foldName(t.name) == foldName(name); });
        if (info == all.end())
            throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": no table " + name);
        Found made{std::size_t(info - all.begin()), {}};
        for (const char* column : kColumnNames[std::size_t(which)]) {
            const auto at = std::find_if(info->columns.begin(), info->columns.end(),
                                         [&](const JetColumn& c) { return foldName(c.name) == foldName(column); });
            if (at == info->columns.end())
                throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": table " +
                                                                    info->name + " has no column " + column);
            made.columns.push_back(int(at - info->columns.begin()));
            made.everyColumn |= std::uint64_t(1) << std::min<int>(made.columns.back(), 63);
        }
        return *(found = std::move(made));
    }

    // Calls `visit` with every live row of `which`, in the order the table stores them.
    template <typename Visit>
    void scan(Table which, Visit visit) {
        const Found& t = table(which);
        std::vector<std::vector<Value>> stored;
        Row row;
        for (const std::uint32_t page : file.dataPages(t.index)) {
            stored.clear();
            file.rowsOnPage(t.index, page, stored, nullptr, t.everyColumn);
            for (std::vector<Value>& values : stored) {
                row.resize(t.columns.size());
                for (std::size_t c = 0; c < t.columns.size(); ++c)
                    row[c] = std::move(values[std::size_t(t.columns[c])]);
                visit(row);
            }
        }
    }

    // Calls `visit` with every row of `which` whose whole-number column `column` is `key`: in the order of the
    // column's index where the file has one that can be searched, else in the order the table stores them.
    template <typename Visit>
    void where(Table which, int column, std::int64_t key, Visit visit) {
        const Found& t = table(which);
        if (const std::optional<std::vector<RowPointer>> pointers =
                file.seek(t.index, t.columns[std::size_t(column)], key)) {
            std::vector<Value> values;
            Row row(t.columns.size());
            for (const RowPointer pointer : *pointers) {
                if (!file.rowAt(t.index, pointer, values, t.everyColumn)) continue;
                for (std::size_t c = 0; c < t.columns.size(); ++c)
                    row[c] = std::move(values[std::size_t(t.columns[c])]);
                // The index is only a way to the rows: each is checked as a scan would check it.
                if (isKey(row[std::size_t(column)], key)) visit(row);
            }
            return;
        }
        scan(which, [&](Row& row) {
            if (isKey(row[std::size_t(column)], key)) visit(row);
        });
    }

    JetFile file;
    std::string path;
    std::array<std::optional<Found>, 5> tables;
};

DirectDatabase::DirectDatabase(std::string path, std::string password)
    : m_path(std::move(path)), m_password(std::move(password)) {
    Reading(m_path, m_password);
}

DirectDatabase::~DirectDatabase() = default;

template <typename Read>
auto DirectDatabase::read(Read read) {
    if (m_closed) throw RuntimeError(RuntimeError::DatabaseError, "the database is closed");
    if (m_command) {
        if (!m_reading) m_reading = std::make_unique<Reading>(m_path, m_password);
        try {
            return read(*m_reading);
        } catch (const RuntimeError& e) {
            // What looks damaged in a file being written is the writer's work in progress.
            if (e.Number() == RuntimeError::DatabaseError && m_reading->file.changed()) throw fileChanged(m_path);
            throw;
        }
    }
    // Alone, a read is a command of its own.
    for (int attempt = 1;; ++attempt) {
        BeginCommand();
        try {
            if constexpr (std::is_void_v<decltype(read(*m_reading))>) {
                this->read(read);
                if (EndCommand()) return;
            } else {
                auto result = this->read(read);
                if (EndCommand()) return result;
            }
        } catch (const RuntimeError& e) {
            EndCommand();
            if (e.Number() != RuntimeError::DatabaseChanged) throw;
        } catch (...) {
            EndCommand();
            throw;
        }
        if (attempt == kReadings) throw fileChanged(m_path);
    }
}

std::vector<TaxpayerRow> DirectDatabase::taxpayers() {
    return read([](Reading& reading) {
        std::vector<TaxpayerRow> rows;
        reading.scan(Table::CMD, [&](Row& row) {
            rows.push_back({std::move(row[CMD_NumRef]), std::move(row[CMD_Contribuyente])});
        });
        // Sorted by keys made once per name; a sort that keeps equal names in the order they are stored.
        std::vector<std::optional<JetTextKey>> keys;
        keys.reserve(rows.size());
        for (const TaxpayerRow& row : rows) {
            const Value& name = row.CMD_Contribuyente;
            keys.emplace_back(name.kind() == Value::Kind::Text ? std::optional(JetTextKey(name.asText()))
                                                               : std::nullopt);
        }
        std::vector<std::size_t> order(rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const Value& x = rows[a].CMD_Contribuyente;
            const Value& y = rows[b].CMD_Contribuyente;
            if (keys[a] && keys[b]) return compare(*keys[a], *keys[b]) < 0;
            return compareJetValues(x, y) < 0;
        });
        std::vector<TaxpayerRow> sorted;
        sorted.reserve(rows.size());
        for (const std::size_t i : order) sorted.push_back(std::move(rows[i]));
        return sorted;
    });
}

std::optional<FoundTaxpayer> DirectDatabase::taxpayerByReference(std::string_view reference) {
    return read([&](Reading& reading) {
        std::optional<FoundTaxpayer> found;
        reading.scan(Table::CMD, [&](Row& row) {
            const Value& stored = row[CMD_NumRef];
            if (found || stored.kind() != Value::Kind::Text || !equalJetText(stored.asText(), reference)) return;
            found = FoundTaxpayer{std::move(row[CMD_ID]), std::move(row[CMD_NumRef])};
        });
        return found;
    });
}

std::vector<DeclarationGroup> DirectDatabase::declarationGroups(std::int32_t taxpayer) {
    return read([&](Reading& reading) {
        std::vector<DeclarationGroup> groups;
        bool exists = false;
        reading.where(Table::CMD, CMD_ID, taxpayer, [&](const Row&) { exists = true; });
        if (!exists) return groups;
        // The groups by form, year and month, in that order: the order of groups whose keys are equal.
        const auto before = [](const DeclarationGroup& a, const DeclarationGroup& b) {
            if (const int order = compareJetValues(a.CP01_ID, b.CP01_ID); order != 0) return order < 0;
            if (const int order = compareJetValues(a.Sid_Año, b.Sid_Año); order != 0) return order < 0;
            return compareJetValues(a.Sid_Mes, b.Sid_Mes) < 0;
        };
        std::map<DeclarationGroup, std::size_t, decltype(before)> index(before);
        reading.where(Table::Form_Cp01, Cp01_Cmd_ID, taxpayer, [&](const Row& form) {
            const std::optional<std::int64_t> cp01 = keyOf(form[Cp01_CP01_ID]);
            if (!cp01) return;
            reading.where(Table::Form_Sid3, Sid3_CP01_ID, *cp01, [&](const Row& declaration) {
                if (!isOperation0or1(declaration[Sid_operacion])) return;
                DeclarationGroup group{form[Cp01_CP01_ID], declaration[Sid_Año], declaration[Sid_Mes], Value()};
                const auto [at, added] = index.try_emplace(group, groups.size());
                if (added) groups.push_back(std::move(group));
                DeclarationGroup& kept = groups[at->second];
                const std::optional<std::string> key = orderingKey(declaration);
                if (key && (kept.maximo.isNull() || *key > kept.maximo.asText())) kept.maximo = Value::text(*key);
            });
        });
        std::vector<DeclarationGroup> ordered;
        ordered.reserve(groups.size());
        for (const auto& [group, at] : index) ordered.push_back(std::move(groups[at]));
        std::stable_sort(ordered.begin(), ordered.end(), [](const DeclarationGroup& a, const DeclarationGroup& b) {
            if (a.maximo.isNull() || b.maximo.isNull()) return a.maximo.isNull() && !b.maximo.isNull();
            return a.maximo.asText() < b.maximo.asText();
        });
        return ordered;
    });
}

std::optional<Value> DirectDatabase::declarationId(std::int32_t form, std::string_view maximo) {
    return read([&](Reading& reading) {
        std::optional<Value> found;
        reading.where(Table::Form_Sid3, Sid3_CP01_ID, form, [&](const Row& declaration) {
            if (found) return;
            const std::optional<std::string> key = orderingKey(declaration);
            if (key && *key == maximo) found = declaration[Sid_ID];
        });
        return found;
    });
}

void DirectDatabase::movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                               const MovementVisitor& visit) {
    read([&](Reading& reading) {
        const Table movements = table == MovementTable::Retenciones ? Table::retenciones : Table::Percepciones;
        Movement movement;
        movement.tipo = Value::text(table == MovementTable::Retenciones ? "R" : "P");
        // The declaration, its form of the taxpayer and the taxpayer, each as the joins meet them.
        reading.where(Table::Form_Sid3, Sid_ID, declaration, [&](const Row& sid3) {
            const std::optional<std::int64_t> cp01 = keyOf(sid3[Sid3_CP01_ID]);
            if (!cp01) return;
            reading.where(Table::Form_Cp01, Cp01_CP01_ID, *cp01, [&](const Row& form) {
                if (!isKey(form[Cp01_Cmd_ID], taxpayer)) return;
                reading.where(Table::CMD, CMD_ID, taxpayer, [&](const Row& cmd) {
                    movement.CMD_NumRef = cmd[CMD_NumRef];
                    movement.CP01_IngBrut = form[CP01_IngBrut];
                    reading.where(movements, Per_Sid_ID, declaration, [&](Row& row) {
                        movement.Per_Fecha = std::move(row[Per_Fecha]);
                        movement.Per_Año = std::move(row[Per_Año]);
                        movement.Per_Mes = std::move(row[Per_Mes]);
                        movement.Per_CUIT = std::move(row[Per_CUIT]);
                        movement.Per_NumAgenteRet = std::move(row[Per_NumAgenteRet]);
                        movement.Per_Responsable = std::move(row[Per_Responsable]);
                        movement.Per_Concepto = std::move(row[Per_Concepto]);
                        movement.Per_Monto = std::move(row[Per_Monto]);
                        movement.Per_Monto1 = std::move(row[Per_Monto1]);
                        visit(movement);
                    });
                });
            });
        });
    });
}

void DirectDatabase::BeginCommand() {
    m_reading.reset();
    m_command = true;
}

bool DirectDatabase::EndCommand() {
    const bool unchanged = !m_reading || !m_reading->file.changed();
    m_reading.reset();
    m_command = false;
    return unchanged;
}

void DirectDatabase::Close() {
    m_closed = true;
    m_reading.reset();
    m_command = false;
}

#include "source/JetDatabase.h"

#include "source/DirectDatabase.h"

#include "runtime/RuntimeError.h"
#include "source/JetHeader.h"
#include "source/JetSql.h"
#include "source/ProgramStatements.h"
#include "source/QueryCache.h"
#include "source/QueryEngine.h"
#include "source/Recordset.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace {

struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity identityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw RuntimeError(RuntimeError::DatabaseError, "cannot read database " + path + ": " + std::strerror(errno));
    return {st.st_dev, st.st_ino, st.st_size, std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

struct JetDatabase::State {
    std::string path;
    std::string password;
    std::shared_ptr<QueryEngine> engine;
    FileIdentity identity;
    std::map<std::string, std::string> canonical;      // folded name → name as the file spells it
    std::map<std::string, TableColumns> tableColumns;  // by the table's name as the file spells it
    QueryCache queries;
    bool closed = false;

    // The names and tables of the reading, as the translator asks for them.
    const NameResolver resolve = [this](std::string_view name) -> std::optional<std::string> {
        const auto it = canonical.find(foldName(name));
        if (it == canonical.end()) return std::nullopt;
        return it->second;
    };
    const TableLookup tables = [this](const std::string& name) -> const TableColumns* {
        const auto it = tableColumns.find(name);
        return it == tableColumns.end() ? nullptr : &it->second;
    };
    const ChainLookup chains = [this](const std::string& table, const std::vector<std::string>& columns) {
        return engine->chainColumn(table, columns);
    };

    void forget() {
        queries.clear();
        canonical.clear();
        tableColumns.clear();
        engine.reset();
    }

    // Reads the file afresh when it is not the one read before, or when a read of it failed; everything read
    // before is dropped (a recordset still being walked keeps its own reading).
    void refresh() {
        const FileIdentity now = identityOf(path);
        if (engine && !engine->broken() && now == identity) return;
        forget();
        engine = std::make_shared<QueryEngine>(path, password);
        identity = now;
        for (const JetTableInfo& table : engine->file().tables()) {
            canonical.emplace(foldName(table.name), table.name);
            TableColumns& columns = tableColumns[table.name];
            for (const JetColumn& column : table.columns) {
                canonical.emplace(foldName(column.name), column.name);
                columns.columns.push_back(column.name);
            }
            for (const int unique : table.uniqueColumns)
                columns.uniqueColumns.push_back(table.columns[std::size_t(unique)].name);
        }
    }
};

JetDatabase::JetDatabase(std::string path, std::string password) : m_state(std::make_unique<State>()) {
    m_state->path = std::move(path);
    m_state->password = std::move(password);
    m_state->refresh();
}

JetDatabase::~JetDatabase() = default;

std::unique_ptr<Recordset> JetDatabase::OpenRecordset(const std::string& jetSql) {
    State& s = *m_state;
    if (s.closed) throw RuntimeError(RuntimeError::DatabaseError, "the database is closed");
    s.refresh();
    return s.queries.open(jetSql, s.engine, s.resolve, s.tables, s.chains, QueryTimeout, KeepResults);
}

std::vector<TaxpayerRow> JetDatabase::taxpayers() {
    std::vector<TaxpayerRow> rows;
    auto rs = OpenRecordset(kTaxpayerListSql);
    for (; !rs->isEOF(); rs->MoveNext()) rows.push_back({rs->Fields("CMD_NumRef"), rs->Fields("CMD_Contribuyente")});
    rs->Close();
    return rows;
}

std::optional<FoundTaxpayer> JetDatabase::taxpayerByReference(std::string_view reference) {
    auto rs = OpenRecordset(taxpayer_sql(std::string(reference)));
    std::optional<FoundTaxpayer> found;
    if (!rs->isEOF()) found = FoundTaxpayer{rs->Fields("CMD_ID"), rs->Fields("CMD_NumRef")};
    rs->Close();
    return found;
}

std::vector<DeclarationGroup> JetDatabase::declarationGroups(std::int32_t taxpayer) {
    std::vector<DeclarationGroup> groups;
    auto rs = OpenRecordset(grouped_declarations_sql(taxpayer));
    for (; !rs->isEOF(); rs->MoveNext())
        groups.push_back({rs->Fields("CP01_id"), rs->Fields("Sid_Año"), rs->Fields("Sid_Mes"), rs->Fields("maximo")});
    rs->Close();
    return groups;
}

std::optional<Value> JetDatabase::declarationId(std::int32_t form, std::string_view maximo) {
    auto rs = OpenRecordset(obtener_sid_sql(form, std::string(maximo)));
    std::optional<Value> found;
    if (!rs->isEOF()) found = rs->Fields("Sid_ID");
    rs->Close();
    return found;
}

void JetDatabase::movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                            const MovementVisitor& visit) {
    auto rs = OpenRecordset(table == MovementTable::Retenciones ? retenciones_sql(taxpayer, declaration)
                                                                : percepciones_sql(taxpayer, declaration));
    Movement movement;
    for (; !rs->isEOF(); rs->MoveNext()) {
        movement.CMD_NumRef = rs->Fields("CMD_NumRef");
        movement.CP01_IngBrut = rs->Fields("CP01_IngBrut");
        movement.tipo = rs->Fields("tipo");
        movement.Per_Fecha = rs->Fields("Per_Fecha");
        movement.Per_Año = rs->Fields("Per_Año");
        movement.Per_Mes = rs->Fields("Per_Mes");
        movement.Per_CUIT = rs->Fields("Per_CUIT");
        movement.Per_NumAgenteRet = rs->Fields("Per_NumAgenteRet");
        movement.Per_Responsable = rs->Fields("Per_Responsable");
        movement.Per_Concepto = rs->Fields("Per_Concepto");
        movement.Per_Monto = rs->Fields("Per_Monto");
        movement.Per_Monto1 = rs->Fields("Per_Monto1");
        visit(movement);
    }
    rs->Close();
}

void JetDatabase::Close() {
    m_state->closed = true;
    m_state->forget();
}

namespace {

class JetWorkspace : public Workspace {
public:
    std::unique_ptr<Database> OpenDatabase(const std::string& path, bool /*exclusive*/, bool /*readOnly*/,
                                           const std::string& connect) override {
        // The program only reads: the file is always opened read-only, whatever the caller asks.
        return std::make_unique<DirectDatabase>(path, passwordFromConnect(connect));
    }
    void Close() override {}
};

}  // namespace

std::unique_ptr<Workspace> Workspaces0() { return std::make_unique<JetWorkspace>(); }

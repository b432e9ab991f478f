#pragma once

#include "source/Database.h"
#include "source/Recordset.h"

#include <memory>
#include <optional>
#include <string>

// A Jet file served to SQLite: every table of the file is a virtual table read in place, searched through the
// file's own indexes where a query's equalities allow it. Before every query the file's identity (device, inode,
// size, modification time) is compared with the one read, and a file that changed is read afresh, so a query
// always sees the file as it is when the query runs. A short result is read whole when its query opens and kept
// while the file is unchanged; a long one is read as it is walked.
//
// One thread per open database: the database, its reader, its SQLite connection (opened without SQLite's mutexes),
// its recordsets and its caches are used by one thread at a time, and nothing is locked.
class JetDatabase : public Database {
public:
    JetDatabase(std::string path, std::string password);
    ~JetDatabase() override;

    std::vector<TaxpayerRow> taxpayers() override;
    std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) override;
    std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) override;
    std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) override;
    void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                   const MovementVisitor& visit) override;
    void BeginCommand() override {}
    bool EndCommand() override { return true; }
    void Close() override;

    // Runs a SELECT in the Jet dialect and returns its rows. SQL the layer cannot run raises a run-time error
    // with a clear description; so does a damaged file met while reading.
    std::unique_ptr<Recordset> OpenRecordset(const std::string& sql);

    int QueryTimeout = 9000;
    // Whether the rows of short queries are kept for the same query run again.
    bool KeepResults = true;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

#pragma once

#include "source/Database.h"

#include <memory>
#include <string>

// A Jet file served to SQLite. The tables a query names are read from the file into an in-memory SQLite
// database, with the file's indexed columns indexed again, and kept while the file is unchanged: before every
// query the file's identity (device, inode, size, modification time) is compared with the one read, and a file
// that changed is read afresh, so a query always sees the file as it is when the query runs.
class JetDatabase : public Database {
public:
    JetDatabase(std::string path, std::string password);
    ~JetDatabase() override;

    std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) override;
    void Close() override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

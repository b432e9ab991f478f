#pragma once

#include <memory>
#include <string>

class Recordset;

// An open Jet database: the program's `Conn`. It reads the file and never writes it.
//
// One thread per open database: a database and the recordsets it opened are used by one thread at a time (nothing
// in them is locked). Two databases may be used by two threads.
class Database {
public:
    virtual ~Database() = default;

    // Runs a SELECT in the Jet dialect and returns its rows. SQL the layer cannot run raises a run-time error
    // with a clear description; so does a damaged file met while reading.
    virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& sql) = 0;
    virtual void Close() = 0;

    int QueryTimeout = 60;
    // Whether the rows of short queries are kept for the same query run again (an export repeated on the unchanged
    // file replays them). A batch that never runs a query twice turns it off: every result is then read as it is
    // walked.
    bool KeepResults = true;
};

// Workspace 0 of the engine: opens databases. Each database it opens may go to a thread of its own.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Opens the Jet file at `path`. `connect` carries ";pwd=…", checked against the password stored in the file.
    // A missing, unreadable, damaged or non-Jet file, or a wrong password, raises a run-time error.
    virtual std::unique_ptr<Database> OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                                   const std::string& connect) = 0;
    virtual void Close() = 0;
};

// The database engine: creates workspace 0.
std::unique_ptr<Workspace> Workspaces0();

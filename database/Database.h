#pragma once

#include "runtime/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The rows the program reads from the database, each with its values as the file stores them (Null stays Null).

// A taxpayer as the list shows it: CMD_NumRef and CMD_Contribuyente.
struct TaxpayerRow {
    Value CMD_NumRef;
    Value CMD_Contribuyente;
};

// A taxpayer found by its reference: CMD_ID and CMD_NumRef.
struct FoundTaxpayer {
    Value CMD_ID;
    Value CMD_NumRef;
};

// One form of a taxpayer and one month declared on it: the form's CP01_ID, the month's Sid_Año and Sid_Mes, and
// `maximo`, the greatest ordering key among the month's declarations.
struct DeclarationGroup {
    Value CP01_ID;
    Value Sid_Año;
    Value Sid_Mes;
    Value maximo;
};

enum class MovementTable { Retenciones, Percepciones };

// One movement as the writers read it: the taxpayer's reference and registration number, the type letter ("R" for
// a withholding, "P" for a perception) and the movement's own columns.
struct Movement {
    Value CMD_NumRef;
    Value CP01_IngBrut;
    Value tipo;
    Value Per_Fecha;
    Value Per_Año;
    Value Per_Mes;
    Value Per_CUIT;
    Value Per_NumAgenteRet;
    Value Per_Responsable;
    Value Per_Concepto;
    Value Per_Monto;
    Value Per_Monto1;
};

// Called for each movement read, in order; what it raises ends the read and reaches the reader's caller.
using MovementVisitor = std::function<void(const Movement&)>;

// An open Jet database: the program's `Conn`. It reads the file and never writes it. Each read below returns the
// rows the program walks, in the order it walks them; a file that cannot be read raises a run-time error whose
// description names the table and what is wrong.
//
// Text is compared as Jet compares it: without regard to case, letters with accents beside the plain ones, the
// accents deciding only between texts otherwise the same ("Jet's text order"). A Null equals nothing and joins
// nothing.
//
// One thread per open database: a database is used by one thread at a time (nothing in it is locked). Two
// databases may be used by two threads.
class Database {
public:
    virtual ~Database() = default;

    // Every taxpayer of table CMD, in Jet's text order of CMD_Contribuyente, Nulls first; taxpayers whose names
    // are equal in that order come in the order the table stores them.
    virtual std::vector<TaxpayerRow> taxpayers() = 0;

    // The first taxpayer, in the order the table stores them, whose CMD_NumRef equals `reference` in Jet's text
    // order; nullopt when none does. The text is taken literally: quotes and wildcards are characters like others.
    virtual std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) = 0;

    // The months declared on the forms of taxpayer `taxpayer`: one group for each form (Form_Cp01 with that Cmd_ID)
    // and each Sid_Año and Sid_Mes of its declarations (Form_Sid3) of operation 0 or 1, a taxpayer of table CMD
    // with that CMD_ID existing. `maximo` is the greatest of the group's ordering keys, each the texts of Sid_Año,
    // Sid_Mes, Sid_Tramite and Sid_Orden joined, compared character by character (Null when every operand of every
    // key is Null). Groups come in the order of `maximo`, Null first; groups with equal keys in the order of their
    // form, year and month.
    virtual std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) = 0;

    // The Sid_ID of the first declaration of form `form` whose ordering key is exactly the text `maximo`, whatever
    // its operation, in the order of the form's declarations in the file (its index on CP01_ID where it has one);
    // nullopt when none is.
    virtual std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) = 0;

    // Calls `visit` for each movement of table `table` that belongs to declaration `declaration`, when that
    // declaration is on a form of taxpayer `taxpayer` and the taxpayer exists, in the order of the table's index on
    // Sid_ID (the order the table stores them where it has none). Orphan movements are never read.
    virtual void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                           const MovementVisitor& visit) = 0;

    // The reads between BeginCommand and EndCommand share one reading of the file, opened by the first of them:
    // what one read took from the file (its table definitions, its pages) serves the next, and nothing outlives
    // the command. A read made outside a command has a reading of its own, and is made again while the file
    // changes under it. A read that meets what looks like damage in a file changed since its reading began raises
    // DatabaseChanged: a writer's work in progress, not damage.
    //
    // Commands nest: a command begun inside another (each export of a batch) is part of it, and goes on with its
    // reading while the file under the name read is the one read and has not changed since that reading began;
    // otherwise it reads the file as it is now, and the commands around it go on with that reading.
    virtual void BeginCommand() = 0;
    // Ends the command begun last; false when the file changed while its reading was read (its size, its
    // modification or change time), so that what the command read may mix the file as it was with the file as it
    // is. The reading ends with the outermost command, or with a command that found the file changed.
    virtual bool EndCommand() = 0;

    virtual void Close() = 0;
};

// Runs `attempt` as one command of `db`, made again while the file changes under it, at most a few times:
// `discard` undoes what an attempt made from a changing file did before the next. Raises DatabaseChanged when the
// file kept changing, and whatever else `attempt` raises.
void readUnchangedFile(Database& db, const std::function<void()>& attempt, const std::function<void()>& discard);

// Waits long enough for a file being written to settle, when its writer has stopped, before it is read again.
void waitForWriter();

// A command of `db` held open while it lives: the commands made meanwhile are its parts (see BeginCommand).
class CommandScope {
public:
    explicit CommandScope(Database& db) : m_db(db) { m_db.BeginCommand(); }
    ~CommandScope() { m_db.EndCommand(); }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;

private:
    Database& m_db;
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

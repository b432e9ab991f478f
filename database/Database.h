#pragma once

#include "runtime/Value.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
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

// Whether a declaration of the year and month given (Sid_Año and Sid_Mes as stored) may be one a batch exports.
using PeriodFilter = std::function<bool(const Value& year, const Value& month)>;

// Called for each movement read, in order; what it raises ends the read and reaches the reader's caller.
using MovementVisitor = std::function<void(const Movement&)>;

// A reading of the database file: the file as it was at one moment, read through one handle. Its methods are the
// program's five reads. Each returns the rows the program walks, in the order it walks them; a file that cannot be
// read raises a run-time error whose description names the table and what is wrong, and what looks like damage in
// a file that changed since the reading began raises DatabaseChanged instead: a writer's work in progress, not
// damage. What a read takes from the file (table definitions, pages, a taxpayer's declarations) may serve the reads
// after it in the same reading, and goes with the reading.
//
// Text is compared as Jet compares it: without regard to case, letters with accents beside the plain ones, the
// accents deciding only between texts otherwise the same ("Jet's text order"). A Null equals nothing and joins
// nothing.
//
// One thread at a time: a reading is used by one thread (nothing in it is locked). Two readings may be used by two
// threads.
class Reading {
public:
    virtual ~Reading() = default;

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

    // The taxpayers (CMD_ID) whose movements the reads to come ask for, in that order, and which of their
    // declarations' periods: as a batch knows them before its first export. The reading may read all those
    // movements in one pass over each movement table instead of searching each declaration's. The reads give the
    // same rows either way.
    virtual void expectMovements(std::span<const std::int32_t> /*taxpayers*/, const PeriodFilter& /*periods*/) {}

    // Whether the file is still as it was when the reading began (its size, its modification and change times):
    // then what was read is the file at one moment. A file written just before the reading began counts as
    // changed.
    virtual bool unchanged() const = 0;
    // Whether the reading may serve another command: the file under the name read is the one read, unchanged.
    virtual bool current() const = 0;
};

// An open Jet database: the program's `Conn`. It reads the file and never writes it; each command reads it through
// a reading of its own (or a batch's), so that it sees the file as it is when the command starts.
class Database {
public:
    virtual ~Database() = default;

    // A reading of the file as it is now. Raises a run-time error when the file cannot be read, DatabaseChanged when
    // it is being written.
    virtual std::unique_ptr<Reading> read() = 0;
    // Waits long enough for a file being written to settle, when its writer has stopped.
    virtual void waitForWriter() = 0;
    // Waits until the file has not been written for a while (see kSettledFor), at most `bound`; false when it was
    // still being written then. `waiting` is called once, when there is something to wait for.
    virtual bool waitUntilSettled(std::chrono::milliseconds bound, const std::function<void()>& waiting = {}) = 0;

    virtual void Close() = 0;
};

// How long a file must have gone unwritten for a batch to take it as settled.
constexpr std::chrono::milliseconds kSettledFor{60};

// Makes `command` on a reading during which the file did not change: on `reading` (what a batch's commands read
// through, kept from one to the next) while it is current, else on a new one, which `reading` then holds. An attempt
// on a file that changed meanwhile is undone by `discard` and made again on a new reading once the writer has had
// time to stop, a few times at most; then DatabaseChanged is raised. What else the command raises passes on.
void readUnchangedFile(Database& db, std::unique_ptr<Reading>& reading, const std::function<void(Reading&)>& command,
                       const std::function<void()>& discard = {});

// The same, for a command that keeps no reading for others.
void readUnchangedFile(Database& db, const std::function<void(Reading&)>& command,
                       const std::function<void()>& discard = {});

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

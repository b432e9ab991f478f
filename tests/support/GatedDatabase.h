#pragma once

#include "database/Database.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// Holds the movements read back on the test's word: after let(n), n more movements go by and the next one waits
// for the next let(); let(-1) lets every movement go by.
struct Gate {
    void let(int rows) {
        const std::lock_guard lock(mutex);
        left = rows;
        changed.notify_all();
    }
    void pass() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return left != 0; });
        if (left > 0) --left;
    }
    std::mutex mutex;
    std::condition_variable changed;
    int left = -1;
};

// What a reading's movement reads do with each movement the file gives: pass it on (`visit`), or more.
using MovementHook = std::function<void(const Movement& movement, const MovementVisitor& visit)>;

// A reading whose movement reads go through a hook.
struct HookedReading : Reading {
    HookedReading(std::unique_ptr<Reading> reading, MovementHook h) : inner(std::move(reading)), hook(std::move(h)) {}
    std::vector<TaxpayerRow> taxpayers() override { return inner->taxpayers(); }
    std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) override {
        return inner->taxpayerByReference(reference);
    }
    std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) override {
        return inner->declarationGroups(taxpayer);
    }
    std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) override {
        return inner->declarationId(form, maximo);
    }
    void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                   const MovementVisitor& visit) override {
        inner->movements(table, taxpayer, declaration, [&](const Movement& movement) { hook(movement, visit); });
    }
    bool unchanged() const override { return inner->unchanged(); }
    bool current() const override { return inner->current(); }
    std::unique_ptr<Reading> inner;
    MovementHook hook;
};

// A database whose readings' movement reads go through a hook.
struct HookedDatabase : Database {
    HookedDatabase(std::unique_ptr<Database> database, MovementHook h) : db(std::move(database)), hook(std::move(h)) {}
    std::unique_ptr<Reading> read() override { return std::make_unique<HookedReading>(db->read(), hook); }
    void waitForWriter() override { db->waitForWriter(); }
    bool waitUntilSettled(std::chrono::milliseconds bound, const std::function<void()>& waiting) override {
        return db->waitUntilSettled(bound, waiting);
    }
    void Close() override { db->Close(); }
    std::unique_ptr<Database> db;
    MovementHook hook;
};

// A database whose movement reads wait at the gate after each movement.
struct GatedDatabase : HookedDatabase {
    GatedDatabase(std::unique_ptr<Database> database, Gate& gate)
        : HookedDatabase(std::move(database), [&gate](const Movement& movement, const MovementVisitor& visit) {
              visit(movement);
              gate.pass();
          }) {}
};

// A database engine whose databases are gated.
struct GatedWorkspace : Workspace {
    explicit GatedWorkspace(Gate& g) : gate(g) {}
    std::unique_ptr<Database> OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                           const std::string& connect) override {
        return std::make_unique<GatedDatabase>(Workspaces0()->OpenDatabase(path, exclusive, readOnly, connect), gate);
    }
    void Close() override {}
    Gate& gate;
};

#pragma once

#include "database/Database.h"

#include <condition_variable>
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

// A reading whose movement reads wait at the gate after each movement.
struct GatedReading : Reading {
    GatedReading(std::unique_ptr<Reading> reading, Gate& g) : inner(std::move(reading)), gate(g) {}
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
        inner->movements(table, taxpayer, declaration, [&](const Movement& movement) {
            visit(movement);
            gate.pass();
        });
    }
    bool unchanged() const override { return inner->unchanged(); }
    bool current() const override { return inner->current(); }
    std::unique_ptr<Reading> inner;
    Gate& gate;
};

// A database whose readings are gated.
struct GatedDatabase : Database {
    GatedDatabase(std::unique_ptr<Database> database, Gate& g) : db(std::move(database)), gate(g) {}
    std::unique_ptr<Reading> read() override { return std::make_unique<GatedReading>(db->read(), gate); }
    void waitForWriter() override { db->waitForWriter(); }
    bool waitUntilSettled(std::chrono::milliseconds bound, const std::function<void()>& waiting) override {
        return db->waitUntilSettled(bound, waiting);
    }
    void Close() override { db->Close(); }
    std::unique_ptr<Database> db;
    Gate& gate;
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

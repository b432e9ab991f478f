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

// A database whose movement reads wait at the gate after each movement.
struct GatedDatabase : Database {
    GatedDatabase(std::unique_ptr<Database> database, Gate& g) : db(std::move(database)), gate(g) {}
    std::vector<TaxpayerRow> taxpayers() override { return db->taxpayers(); }
    std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) override {
        return db->taxpayerByReference(reference);
    }
    std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) override {
        return db->declarationGroups(taxpayer);
    }
    std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) override {
        return db->declarationId(form, maximo);
    }
    void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                   const MovementVisitor& visit) override {
        db->movements(table, taxpayer, declaration, [&](const Movement& movement) {
            visit(movement);
            gate.pass();
        });
    }
    void BeginCommand() override { db->BeginCommand(); }
    bool EndCommand() override { return db->EndCommand(); }
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

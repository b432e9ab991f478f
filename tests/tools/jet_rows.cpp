// jet_rows FILE [--password P] [--seek KEY...]: what the program's own Jet reader reads of a file, as JSON on
// standard output, for tests/generator_roundtrip_test.py to compare with what the generator wrote.
//
// Every live row of every table, in the order a scan meets them, each an object of all its columns: Null as null,
// numbers as numbers (a Yes/No as the reader gives it, -1 or 0; Currency, Single, Double and dates as doubles, dates
// in days since 1899-12-30), texts as UTF-8. With --seek, also "_seeks": for every column whose index the reader can
// search, for each KEY, the rows the index gives for it, in index order, each read where the index points (a moved
// row followed to its place; null for a row the reader takes as deleted). Exit status 1 and a message on standard
// error when the reader refuses the file.
#include "jetfile/JetFile.h"
#include "jetfile/PageSource.h"
#include "platform/Clock.h"
#include "runtime/RuntimeError.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

// The one place the reader is opened, so that a change of how a JetFile is made touches only this.
std::unique_ptr<JetFile> openJetFile(const std::string& path, const std::string& password) {
    return std::make_unique<JetFile>(openFileSource(path), password, systemClock());
}

nlohmann::json toJson(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::Null: return nullptr;
        case Value::Kind::Integer: return value.asInteger();
        case Value::Kind::Double:
        case Value::Kind::Date: return value.asDouble();
        case Value::Kind::Text: return value.asText();
    }
    return nullptr;
}

// Every column of a table, decoded into values of its own.
struct AllColumns {
    AllColumns(const JetTableInfo& table) : values(table.columns.size()) {
        for (std::size_t c = 0; c < values.size(); ++c) {
            positions.push_back(int(c));
            into.push_back(&values[c]);
        }
    }
    nlohmann::json row(const JetTableInfo& table) const {
        nlohmann::json out = nlohmann::json::object();
        for (std::size_t c = 0; c < values.size(); ++c) out[table.columns[c].name] = toJson(values[c]);
        return out;
    }
    std::vector<int> positions;
    std::vector<Value> values;
    std::vector<Value*> into;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: jet_rows FILE [--password P] [--seek KEY...]\n";
        return 2;
    }
    std::string password = "Kb7731R28";
    std::vector<std::int64_t> keys;
    bool seeking = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--password" && i + 1 < argc) {
            password = argv[++i];
        } else if (arg == "--seek") {
            seeking = true;
        } else if (seeking) {
            keys.push_back(std::stoll(arg));
        } else {
            std::cerr << "jet_rows: unknown argument " << arg << "\n";
            return 2;
        }
    }
    try {
        const std::unique_ptr<JetFile> file = openJetFile(argv[1], password);
        nlohmann::json out = nlohmann::json::object();
        nlohmann::json seeks = nlohmann::json::object();
        for (std::size_t t = 0; t < file->tableNames().size(); ++t) {
            const JetTableInfo& table = file->table(t);
            AllColumns all(table);
            nlohmann::json rows = nlohmann::json::array();
            file->scan(t, all.positions, all.into.data(), [&](RowPointer) {
                rows.push_back(all.row(table));
                return true;
            });
            out[table.name] = std::move(rows);
            if (!seeking) continue;
            nlohmann::json columns = nlohmann::json::object();
            for (const int column : table.seekableColumns) {
                nlohmann::json found = nlohmann::json::object();
                std::vector<RowPointer> pointers;
                for (const std::int64_t key : keys) {
                    if (!file->seek(t, column, key, pointers)) throw std::logic_error("a seekable column not searched");
                    nlohmann::json given = nlohmann::json::array();
                    for (const RowPointer pointer : pointers)
                        given.push_back(file->rowAt(t, pointer, all.positions, all.into.data()) ? all.row(table)
                                                                                                : nlohmann::json());
                    found[std::to_string(key)] = std::move(given);
                }
                columns[table.columns[std::size_t(column)].name] = std::move(found);
            }
            seeks[table.name] = std::move(columns);
        }
        if (seeking) out["_seeks"] = std::move(seeks);
        std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    } catch (const RuntimeError& e) {
        std::cerr << "jet_rows: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

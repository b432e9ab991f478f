#pragma once

#include "database/Database.h"

#include <memory>
#include <string>

// The program's reads as plain code over the Jet file reader. Each read finds its rows through the file's indexes
// on Long keys where the table has one and by a scan of the table where it has none.
class JetDatabase final : public Database {
public:
    // Opens the file once, to check it and its password; raises RuntimeError when it cannot be read.
    JetDatabase(std::string path, std::string password);
    ~JetDatabase() override;

    std::vector<TaxpayerRow> taxpayers() override;
    std::optional<FoundTaxpayer> taxpayerByReference(std::string_view reference) override;
    std::vector<DeclarationGroup> declarationGroups(std::int32_t taxpayer) override;
    std::optional<Value> declarationId(std::int32_t form, std::string_view maximo) override;
    void movements(MovementTable table, std::int32_t taxpayer, std::int32_t declaration,
                   const MovementVisitor& visit) override;
    void BeginCommand() override;
    bool EndCommand() override;
    void Close() override;

private:
    struct Reading;
    // Runs `read` on the command's reading; outside a command, as a command of its own.
    template <typename Read>
    auto read(Read read);

    std::string m_path;
    std::string m_password;
    std::unique_ptr<Reading> m_reading;  // the commands', opened by their first read
    int m_commands = 0;                  // how many are begun and not ended
    bool m_closed = false;
};

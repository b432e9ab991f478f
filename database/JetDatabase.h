#pragma once

#include "database/Database.h"

#include <functional>
#include <memory>
#include <string>

class Clock;
class PageSource;

// The program's database over the Jet file reader: each reading opens the file afresh and reads it with its own
// reader. The reads find their rows through the file's indexes on Long keys where a table has one and by a scan of
// the table where it has none.
class JetDatabase final : public Database {
public:
    // Opens a source on the file each time the file is to be read.
    using OpenSource = std::function<std::unique_ptr<PageSource>()>;

    // The file at `path`, read with the system's clock. Reads the file once, to check it and its password; raises
    // RuntimeError when it cannot be read.
    JetDatabase(std::string path, std::string password);
    // The file `open` gives, read with `clock` (which must outlive the database). Checks it as above.
    JetDatabase(OpenSource open, std::string password, Clock& clock);
    ~JetDatabase() override;

    std::unique_ptr<Reading> read() override;
    void waitForWriter() override;
    bool waitUntilSettled(std::chrono::milliseconds bound, const std::function<void()>& waiting = {}) override;
    void Close() override;

private:
    OpenSource m_open;
    std::string m_password;
    Clock& m_clock;
    bool m_closed = false;
};

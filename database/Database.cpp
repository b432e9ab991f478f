#include "database/Database.h"

#include "runtime/RuntimeError.h"

#include <optional>

namespace {

// How many times a command is made on a file that changed while it was read.
constexpr int kAttempts = 4;

}  // namespace

void readUnchangedFile(Database& db, std::unique_ptr<Reading>& reading, const std::function<void(Reading&)>& command,
                       const std::function<void()>& discard) {
    for (int n = 1;; ++n) {
        std::optional<RuntimeError> changed;
        try {
            if (!reading || !reading->current()) {
                reading.reset();
                reading = db.read();
            }
            command(*reading);
            if (reading->unchanged()) return;
        } catch (const RuntimeError& e) {
            if (e.Number() != RuntimeError::DatabaseChanged) throw;
            changed = e;
        }
        reading.reset();
        if (discard) discard();
        if (n == kAttempts)
            throw changed ? *changed
                          : RuntimeError(RuntimeError::DatabaseChanged,
                                         "La base de datos cambió mientras se leía: vuelva a intentarlo.");
        db.waitForWriter();
    }
}

void readUnchangedFile(Database& db, const std::function<void(Reading&)>& command,
                       const std::function<void()>& discard) {
    std::unique_ptr<Reading> reading;
    readUnchangedFile(db, reading, command, discard);
}

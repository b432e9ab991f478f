#include "database/Database.h"

#include "jetfile/JetFile.h"
#include "runtime/RuntimeError.h"

#include <chrono>
#include <thread>

namespace {

constexpr int kAttempts = 4;

}  // namespace

void waitForWriter() { std::this_thread::sleep_for(std::chrono::milliseconds(kFileSettlesMilliseconds + 5)); }

void readUnchangedFile(Database& db, const std::function<void()>& attempt, const std::function<void()>& discard) {
    for (int n = 1;; ++n) {
        db.BeginCommand();
        std::optional<RuntimeError> changed;
        try {
            attempt();
        } catch (const RuntimeError& e) {
            db.EndCommand();
            if (e.Number() != RuntimeError::DatabaseChanged) throw;
            changed = e;
        } catch (...) {
            db.EndCommand();
            throw;
        }
        if (!changed && db.EndCommand()) return;
        discard();
        waitForWriter();
        if (n == kAttempts)
            throw changed ? *changed
                          : RuntimeError(RuntimeError::DatabaseChanged,
                                         "the database file changed while it was being read: try again");
    }
}

#include "platform/Clock.h"

#include <windows.h>

namespace {

// FILETIME counts 100-nanosecond ticks from 1601-01-01 UTC.
constexpr std::int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;

class SystemClock final : public Clock {
public:
    std::int64_t now() const override {
        FILETIME time;
        // The precise time, as file systems stamp writes with it: the coarse one lags by up to a tick of 16 ms.
        ::GetSystemTimePreciseAsFileTime(&time);
        const std::int64_t ticks = std::int64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
        return (ticks - kTicksFrom1601To1970) * 100;
    }
    void sleep(std::chrono::milliseconds duration) override {
        ::Sleep(duration.count() > 0 ? static_cast<DWORD>(duration.count()) : 0);
    }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

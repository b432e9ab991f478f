#include "platform/Clock.h"

#include <thread>

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t now() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

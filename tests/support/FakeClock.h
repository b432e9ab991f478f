#pragma once

#include "platform/Clock.h"

#include <atomic>

// A clock the test sets: it starts at a fixed day and moves only when told, or by what a wait asks for, so that
// waits take no time and "how long ago" is exact.
class FakeClock final : public Clock {
public:
    static constexpr std::int64_t kStart = 1'800'000'000'000'000'000;  // January 2027

    std::int64_t now() const override { return m_now; }
    void sleep(std::chrono::milliseconds duration) override {
        m_now += std::chrono::nanoseconds(duration).count();
        m_slept += duration.count();
    }
    void advance(std::chrono::nanoseconds by) { m_now += by.count(); }
    // How long waits took in all, in milliseconds.
    long long slept() const { return m_slept; }

private:
    std::atomic<std::int64_t> m_now{kStart};
    std::atomic<long long> m_slept{0};
};

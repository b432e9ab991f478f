#pragma once

#include <chrono>
#include <cstdint>

// The time, as the program asks for it: the wall clock that file systems stamp writes with, and waiting. The reader
// and the reads take a clock, so that a test decides what time it is and waits take no time there.
class Clock {
public:
    virtual ~Clock() = default;

    // The wall clock's time now, in nanoseconds since 1970-01-01 UTC.
    virtual std::int64_t now() const = 0;
    // Waits `duration` before it returns.
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// The system's clock. Safe to use from any thread.
Clock& systemClock();

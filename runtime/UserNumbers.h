#pragma once

#include <cstdint>
#include <string>

// Numbers as the program's users read them, in Argentina's usage, the same in every window and in the command
// line's summary (fields meant for scripts stay plain digits).

// A count with its thousands grouped by dots: 1.000.000, -12.345.
std::string userCount(std::int64_t count);
// A time in seconds with one decimal after a comma, and its unit: "3,0 s", "0,1 s".
std::string userSeconds(double seconds);

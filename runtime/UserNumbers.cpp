#include "runtime/UserNumbers.h"

#include <cmath>

std::string userCount(std::int64_t count) {
    // Built from the magnitude as unsigned, so that the smallest count has one too.
    std::uint64_t magnitude = count < 0 ? 0 - std::uint64_t(count) : std::uint64_t(count);
    std::string digits;
    for (int n = 0; n == 0 || magnitude != 0; ++n, magnitude /= 10) {
        if (n != 0 && n % 3 == 0) digits.insert(digits.begin(), '.');
        digits.insert(digits.begin(), char('0' + magnitude % 10));
    }
    return count < 0 ? "-" + digits : digits;
}

std::string userSeconds(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    const auto tenths = std::int64_t(std::llround(seconds * 10));
    return userCount(tenths / 10) + "," + char('0' + tenths % 10) + " s";
}

#pragma once

#include "runtime/RuntimeError.h"

#include <cmath>
#include <cstdint>

// The calendar date of a date value.
struct CivilDate {
    int year;
    int month;
    int day;
};

// The date part of a date value (days since 1899-12-30, the time of day as the fraction). The whole days are
// taken toward zero, as the runtime does for dates before 1899-12-30, whose fraction counts forward from midnight.
// Dates outside the years 100 to 9999, and values that are not finite, raise Overflow (6).
inline CivilDate civilFromSerial(double serial) {
    // 0100-01-01 and 9999-12-31 as serials; the fraction of the last day is still inside the range.
    if (!std::isfinite(serial) || serial <= -657435.0 || serial >= 2958466.0) throw RuntimeError::overflow();
    // Days since 0000-03-01 in the proleptic Gregorian calendar, so that leap days end each year: a positive number
    // for every date of the range.
    const auto days = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::trunc(serial)) + 693899);
    const std::uint32_t era = days / 146097;
    const std::uint32_t dayOfEra = days - era * 146097;
    const std::uint32_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::uint32_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::uint32_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    const int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
    return {year, month, day};
}

// Day numbers: day 0 is 1899-12-30, the day the date value counts from. Here, below both the
// local zone and the calendar, since both count in them.
#pragma once

#include <cstdint>

namespace chronosift {

inline constexpr int64_t kSecondsPerDay = 86400;
// 1970-01-01 is day 25569 counted from 1899-12-30.
inline constexpr int64_t kUnixEpochDay = 25569;

constexpr int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The day number of a moment given as seconds since 1970-01-01 00:00:00 on the same clock.
constexpr int64_t dayNumberOfSeconds(int64_t seconds) {
    return floorDiv(seconds, kSecondsPerDay) + kUnixEpochDay;
}

}  // namespace chronosift

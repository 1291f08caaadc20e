// The date test of a search: whole local calendar days, the time of day counting on neither side.
#pragma once

#include <cstdint>

namespace chronosift {

enum class Criterion : uint8_t {
    After,   // "After this date:"
    Before,  // "Before this date:"
    On,      // "On this date:"
};

// Days from the cutoff day to the file's day; both are day numbers (0 = 1899-12-30). A file
// without a time counts as day 0.
inline int64_t dayDifference(int64_t fileDay, int64_t cutoffDay) {
    return fileDay - cutoffDay;
}

// Whether a day difference passes the criterion's test.
constexpr bool passes(Criterion criterion, int64_t dayDifference) {
    switch (criterion) {
        case Criterion::After:
            return dayDifference > 0;
        case Criterion::Before:
            return dayDifference < 0;
        case Criterion::On:
            return dayDifference == 0;
    }
    return false;
}

// Whether a file on `fileDay` passes for `cutoffDay`.
constexpr bool dayMatches(Criterion criterion, int64_t fileDay, int64_t cutoffDay) {
    return passes(criterion, fileDay - cutoffDay);
}

}  // namespace chronosift

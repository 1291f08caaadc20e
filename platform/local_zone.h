// The local time zone: the UTC offset in force at a given moment, as `ls -l` and file managers
// use it. Not thread-safe: give each thread its own object.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace chronosift::platform {

class LocalZone {
  public:
    // Reads the zone settings (TZ) as they are now.
    LocalZone();

    // Seconds east of UTC in force at the UTC moment `utcSeconds`.
    int32_t offsetAt(int64_t utcSeconds);
    int64_t localSeconds(int64_t utcSeconds) { return utcSeconds + offsetAt(utcSeconds); }
    // Day number (0 = 1899-12-30) of the local calendar day of a UTC moment.
    int64_t localDay(int64_t utcSeconds);

  private:
    // Offsets are looked up once per UTC day: a day either keeps one offset or changes once, at
    // `change`. Searching a million files then costs a table lookup each, not a zone lookup.
    struct Day {
        int64_t day = INT64_MIN;
        int64_t change = INT64_MAX;  // first second with `after`
        int32_t before = 0;
        int32_t after = 0;
    };
    void fill(Day& slot, int64_t day);
    Day& slotFor(int64_t day);

    // Days in one contiguous window, grown to cover the days asked for while it stays below
    // kMaxWindow days; days beyond it share a small hashed table.
    static constexpr int64_t kMaxWindow = int64_t{1} << 17;  // about 360 years
    std::vector<Day> window_;
    int64_t windowBase_ = 0;
    std::array<Day, 1024> far_{};
};

}  // namespace chronosift::platform

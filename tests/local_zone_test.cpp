#include "platform/local_zone.h"

#include <gtest/gtest.h>
#include <time.h>

#include "index/calendar.h"
#include "support/temp_tree.h"

namespace chronosift::platform {
namespace {

using testsupport::ScopedTimeZone;
using testsupport::utcTime;

int32_t systemOffset(int64_t t) {
    time_t tt = static_cast<time_t>(t);
    struct tm local;
    localtime_r(&tt, &local);
    return static_cast<int32_t>(local.tm_gmtoff);
}

TEST(LocalZone, MidnightChangeGivesTheDayTheClockShows) {
    // In Santiago summer time starts at local midnight, which never happens on that day: the
    // clock jumps from 23:59:59 to 01:00:00.
    ScopedTimeZone tz("America/Santiago");
    LocalZone zone;
    const int64_t change = utcTime(2022, 9, 11, 4, 0, 0);
    EXPECT_EQ(isoLocalText(zone.localSeconds(change - 1)), "2022-09-10 23:59:59");
    EXPECT_EQ(isoLocalText(zone.localSeconds(change)), "2022-09-11 01:00:00");
    EXPECT_EQ(zone.localDay(change), dayNumber({2022, 9, 11}));
}

TEST(LocalZone, AgreesWithTheSystemForManyMomentsAndZones) {
    for (const char* name : {"Europe/Berlin", "America/Santiago", "Australia/Lord_Howe",
                             "Asia/Kathmandu", "America/St_Johns", "UTC", "Pacific/Apia"}) {
        ScopedTimeZone tz(name);
        LocalZone zone;
        uint64_t state = 0x9E3779B97F4A7C15ull;
        // 1700 to 2400 in random order: more days than the window of days keeps, so the table
        // for far days is used as well.
        const int64_t from = utcTime(1700, 1, 1), span = utcTime(2400, 1, 1) - from;
        for (int i = 0; i < 100000; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const int64_t t =
                from + static_cast<int64_t>((state >> 11) % static_cast<uint64_t>(span));
            ASSERT_EQ(zone.offsetAt(t), systemOffset(t)) << name << " at " << t;
        }
        // Every quarter hour of four years, a second either side: this passes every change.
        for (int64_t t = utcTime(2020, 1, 1); t < utcTime(2024, 1, 1); t += 900) {
            for (int64_t d = -1; d <= 1; ++d) {
                ASSERT_EQ(zone.offsetAt(t + d), systemOffset(t + d)) << name << " at " << t + d;
            }
        }
    }
}

}  // namespace
}  // namespace chronosift::platform

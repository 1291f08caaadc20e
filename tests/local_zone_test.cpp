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

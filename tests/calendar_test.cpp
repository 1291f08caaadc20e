#include "index/calendar.h"

#include <gtest/gtest.h>

namespace chronosift {
namespace {

TEST(DayNumber, KnownDaysAndRoundTrip) {
    EXPECT_EQ(dayNumber({1899, 12, 30}), 0);
    EXPECT_EQ(dayNumber({1899, 12, 29}), -1);
    EXPECT_EQ(dayNumber({2006, 6, 30}), 38898);
    EXPECT_EQ(dayNumber({1970, 1, 1}), 25569);
    EXPECT_EQ(dayNumber({1601, 1, 1}), -109205);
    for (int64_t d = -109205; d < 2958466; d += 97) {
        EXPECT_EQ(dayNumber(civilDate(d)), d);
    }
    EXPECT_EQ(civilDate(dayNumber({2000, 2, 29})), (CivilDate{2000, 2, 29}));
    EXPECT_EQ(civilDate(dayNumber({1900, 3, 1}) - 1), (CivilDate{1900, 2, 28}));
    // Of seconds since 1970, floored before it.
    EXPECT_EQ(dayNumberOfSeconds(86399), 25569);
    EXPECT_EQ(dayNumberOfSeconds(-1), 25568);
    EXPECT_EQ(dayNumberOfSeconds(-86401), 25567);
}

TEST(ParseIsoDate, AcceptsOnlyRealDatesInRange) {
    EXPECT_EQ(parseIsoDate("2006-06-30"), (CivilDate{2006, 6, 30}));
    EXPECT_EQ(parseIsoDate("2020-02-29"), (CivilDate{2020, 2, 29}));
    EXPECT_EQ(parseIsoDate("1601-01-01"), (CivilDate{1601, 1, 1}));
    EXPECT_EQ(parseIsoDate("9999-12-31"), (CivilDate{9999, 12, 31}));
    for (const char* bad : {"2021-02-29", "1900-02-29", "2020-13-01", "2020-00-10", "2020-01-00",
                            "2020-04-31", "1600-12-31", "20200101", "2020-1-01", "2020/01/01",
                            "2020-01-01x", "", "abcd-ef-gh", "+020-01-01"}) {
        EXPECT_FALSE(parseIsoDate(bad).has_value()) << bad;
    }
}

// Ages by the calendar: month ends and leap days take the last day the month has, weeks and days
// count days, and the picker's edges hold.
TEST(Ages, CountBackByTheCalendar) {
    const struct {
        CivilDate today;
        const char* age;
        std::optional<CivilDate> expected;
    } cases[] = {
        {{2026, 3, 31}, "1m", CivilDate{2026, 2, 28}},
        {{2024, 3, 31}, "1m", CivilDate{2024, 2, 29}},
        {{2024, 2, 29}, "1y", CivilDate{2023, 2, 28}},
        {{2024, 2, 29}, "4y", CivilDate{2020, 2, 29}},
        {{2026, 1, 15}, "3m", CivilDate{2025, 10, 15}},
        {{2026, 12, 7}, "6m", CivilDate{2026, 6, 7}},
        {{2026, 3, 1}, "1d", CivilDate{2026, 2, 28}},
        {{2026, 3, 29}, "2w", CivilDate{2026, 3, 15}},
        {{2026, 12, 7}, "0y", CivilDate{2026, 12, 7}},
        {{1602, 1, 1}, "1y", CivilDate{1601, 1, 1}},
        {{1601, 1, 1}, "1d", std::nullopt},
        {{2026, 1, 1}, "500y", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dayBefore(c.today, *parseAge(c.age)), c.expected) << c.age;
    }
    for (const char* bad : {"", "y", "2", "2x", "-1y", "1.5y", "2 y", "123456789y"}) {
        EXPECT_FALSE(parseAge(bad).has_value()) << bad;
    }
}

TEST(IsoLocalText, WholeSecondsAndDateAloneAtMidnight) {
    EXPECT_EQ(isoLocalText(1615716333), "2021-03-14 10:05:33");
    EXPECT_EQ(isoLocalText(1615680000), "2021-03-14");
    EXPECT_EQ(isoLocalText(-1), "1969-12-31 23:59:59");
    EXPECT_EQ(isoLocalText(-86400), "1969-12-31");
}

}  // namespace
}  // namespace chronosift

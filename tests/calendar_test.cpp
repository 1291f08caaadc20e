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

TEST(IsoLocalText, WholeSecondsAndDateAloneAtMidnight) {
    EXPECT_EQ(isoLocalText(1615716333), "2021-03-14 10:05:33");
    EXPECT_EQ(isoLocalText(1615680000), "2021-03-14");
    EXPECT_EQ(isoLocalText(-1), "1969-12-31 23:59:59");
    EXPECT_EQ(isoLocalText(-86400), "1969-12-31");
}

}  // namespace
}  // namespace chronosift

// Calendar arithmetic on day numbers, and the date value: days since 1899-12-30 00:00:00 with the
// time of day as the fraction. Pure functions; no time zone is involved here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/day_number.h"

namespace chronosift {

struct CivilDate {
    int64_t year = 0;
    unsigned month = 1;  // 1..12
    unsigned day = 1;    // 1..31
    bool operator==(const CivilDate&) const = default;
};

// Day number 0 is 1899-12-30; negative before it.
int64_t dayNumber(const CivilDate& date);
CivilDate civilDate(int64_t dayNumber);

// An age as a cut-off: a count of days, weeks, months or years.
struct Age {
    int64_t count = 0;
    char unit = 'd';  // 'd', 'w', 'm' or 'y'
};

// "10d", "3w", "6m", "2y" (a count from 0, then the unit). Nothing for anything else.
std::optional<Age> parseAge(std::string_view text);

// The calendar day an age before `today`: days and weeks by the day, months and years by the
// calendar, a day the month lacks taken as its last (31 March less one month is the last day of
// February; 29 February less one year is 28 February). Nothing outside 1601-01-01 to 9999-12-31.
std::optional<CivilDate> dayBefore(const CivilDate& today, const Age& age);

// "YYYY-MM-DD", strictly, years 1601 to 9999. Nothing for anything else.
std::optional<CivilDate> parseIsoDate(std::string_view text);

// "YYYY-MM-DD hh:mm:ss", or the date alone at exactly 00:00:00, of local seconds since 1970.
std::string isoLocalText(int64_t localSeconds);

}  // namespace chronosift

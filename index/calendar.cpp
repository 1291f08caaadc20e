#include "index/calendar.h"

#include <cstdio>

namespace chronosift {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = floorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

CivilDate civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {y + (m <= 2), m, d};
}

bool validDate(int64_t y, unsigned m, unsigned d) {
    if (m < 1 || m > 12 || d < 1) {
        return false;
    }
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + ((m == 2 && leap) ? 1 : 0);
}

}  // namespace

int64_t dayNumber(const CivilDate& date) {
    return daysFromCivil(date.year, date.month, date.day) + kUnixEpochDay;
}

CivilDate civilDate(int64_t day) {
    return civilFromDays(day - kUnixEpochDay);
}

std::optional<Age> parseAge(std::string_view text) {
    if (text.size() < 2 || text.size() > 8 ||
        std::string_view("dwmy").find(text.back()) == std::string_view::npos) {
        return std::nullopt;
    }
    Age age{0, text.back()};
    for (const char c : text.substr(0, text.size() - 1)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        age.count = age.count * 10 + (c - '0');
    }
    return age;
}

std::optional<CivilDate> dayBefore(const CivilDate& today, const Age& age) {
    CivilDate out;
    if (age.unit == 'd' || age.unit == 'w') {
        out = civilDate(dayNumber(today) - age.count * (age.unit == 'w' ? 7 : 1));
    } else {
        const int64_t months =
            today.year * 12 + (today.month - 1) - age.count * (age.unit == 'y' ? 12 : 1);
        out.year = floorDiv(months, 12);
        out.month = static_cast<unsigned>(months - out.year * 12 + 1);
        out.day = today.day;
        while (!validDate(out.year, out.month, out.day)) {
            --out.day;
        }
    }
    if (out.year < 1601 || out.year > 9999) {
        return std::nullopt;
    }
    return out;
}

std::optional<CivilDate> parseIsoDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    auto number = [&](size_t from, size_t count, unsigned& out) {
        out = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9') {
                return false;
            }
            out = out * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return true;
    };
    unsigned y = 0, m = 0, d = 0;
    if (!number(0, 4, y) || !number(5, 2, m) || !number(8, 2, d) || y < 1601 ||
        !validDate(y, m, d)) {
        return std::nullopt;
    }
    return CivilDate{y, m, d};
}

std::string isoLocalText(int64_t localSeconds) {
    const int64_t day = floorDiv(localSeconds, kSecondsPerDay);
    const int64_t rest = localSeconds - day * kSecondsPerDay;
    const CivilDate date = civilFromDays(day);
    char buffer[64];
    if (rest == 0) {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                      date.month, date.day);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02d:%02d:%02d",
                      static_cast<long long>(date.year), date.month, date.day,
                      static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                      static_cast<int>(rest % 60));
    }
    return buffer;
}

}  // namespace chronosift

#include "platform/local_zone.h"

#include <time.h>

#include <algorithm>

#include "platform/day_number.h"

namespace chronosift::platform {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

int32_t systemOffset(int64_t utcSeconds) {
    const auto t = static_cast<time_t>(utcSeconds);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return static_cast<int32_t>(local.tm_gmtoff);
}

int64_t floorDay(int64_t seconds) {
    int64_t q = seconds / kSecondsPerDay;
    return (seconds % kSecondsPerDay < 0) ? q - 1 : q;
}

}  // namespace

LocalZone::LocalZone() {
    tzset();
}

void LocalZone::fill(Day& slot, int64_t day) {
    const int64_t start = day * kSecondsPerDay;
    const int64_t end = start + kSecondsPerDay - 1;
    slot.day = day;
    slot.before = systemOffset(start);
    slot.after = systemOffset(end);
    slot.change = INT64_MAX;
    if (slot.before != slot.after) {
        // The first second of the new offset: the zone changes at most once a day.
        int64_t lo = start;  // has `before`
        int64_t hi = end;    // has `after`
        while (hi - lo > 1) {
            const int64_t mid = lo + (hi - lo) / 2;
            if (systemOffset(mid) == slot.before) {
                lo = mid;
            } else {
                hi = mid;
            }
        }
        slot.change = hi;
    }
}

LocalZone::Day& LocalZone::slotFor(int64_t day) {
    if (day - windowBase_ >= 0 && day - windowBase_ < static_cast<int64_t>(window_.size())) {
        Day& slot = window_[static_cast<size_t>(day - windowBase_)];
        if (slot.day != day) {
            fill(slot, day);
        }
        return slot;
    }
    const int64_t low = window_.empty() ? day : std::min(windowBase_, day);
    const int64_t high =
        window_.empty() ? day
                        : std::max(windowBase_ + static_cast<int64_t>(window_.size()) - 1, day);
    if (high - low < kMaxWindow) {
        // Grow the window by at least half again, so that widening it stays rare.
        const int64_t size = high - low + 1;
        const int64_t want = std::min<int64_t>(
            kMaxWindow,
            std::max<int64_t>({size, int64_t{1024}, static_cast<int64_t>(window_.size()) * 3 / 2}));
        const int64_t newBase = day < windowBase_ || window_.empty() ? high - want + 1 : low;
        std::vector<Day> grown(static_cast<size_t>(want));
        for (size_t i = 0; i < window_.size(); ++i) {
            grown[static_cast<size_t>(windowBase_ - newBase) + i] = window_[i];
        }
        window_ = std::move(grown);
        windowBase_ = newBase;
        return slotFor(day);
    }
    Day& slot = far_[static_cast<uint64_t>(day) & (far_.size() - 1)];
    if (slot.day != day) {
        fill(slot, day);
    }
    return slot;
}

int32_t LocalZone::offsetAt(int64_t utcSeconds) {
    // Far beyond any calendar the zone data covers; also keeps the arithmetic below in range.
    constexpr int64_t kFar = int64_t{1} << 50;
    if (utcSeconds > kFar || utcSeconds < -kFar) {
        return 0;
    }
    Day& slot = slotFor(floorDay(utcSeconds));
    return utcSeconds < slot.change ? slot.before : slot.after;
}

int64_t LocalZone::localDay(int64_t utcSeconds) {
    return dayNumberOfSeconds(localSeconds(utcSeconds));
}

}  // namespace chronosift::platform

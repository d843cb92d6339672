#include "v4ada/time/time_value.h"

#include <limits>

void TimeValue::now() {
    ClockReading r = clock_source().monotonic();
    seconds = r.seconds;
    microseconds = r.microseconds;
}

int32_t TimeValue::msBetween(const TimeValue& later, const TimeValue& earlier) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    // Beyond this many seconds apart the result is clamped anyway; checking
    // first keeps the multiplication below from overflowing.
    constexpr int64_t kSecondsCap = kMax / 1000 + 2;
    int64_t ds = 0;
    if (__builtin_sub_overflow(later.seconds, earlier.seconds, &ds) || ds > kSecondsCap || ds < -kSecondsCap)
        return later.seconds > earlier.seconds ? static_cast<int32_t>(kMax) : static_cast<int32_t>(kMin);
    int64_t ms = (static_cast<int64_t>(later.microseconds) - earlier.microseconds) / 1000 + ds * 1000;
    if (ms > kMax) return static_cast<int32_t>(kMax);
    if (ms < kMin) return static_cast<int32_t>(kMin);
    return static_cast<int32_t>(ms);
}

int64_t TimeValue::usBetween(const TimeValue& later, const TimeValue& earlier) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t ds = 0;
    int64_t us = 0;
    if (__builtin_sub_overflow(later.seconds, earlier.seconds, &ds) || __builtin_mul_overflow(ds, 1000000, &us) ||
        __builtin_add_overflow(us, static_cast<int64_t>(later.microseconds) - earlier.microseconds, &us))
        return later.seconds > earlier.seconds ? kMax : kMin;
    return us;
}

void TimeValue::addUs(int64_t us) {
    int64_t total = microseconds + us % 1000000;
    seconds += us / 1000000 + total / 1000000;
    total %= 1000000;
    if (total < 0) {
        total += 1000000;
        seconds -= 1;
    }
    microseconds = static_cast<int32_t>(total);
}

ClockReading wall_clock_now() { return clock_source().wall(); }

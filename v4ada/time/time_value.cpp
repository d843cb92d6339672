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

ClockReading wall_clock_now() { return clock_source().wall(); }

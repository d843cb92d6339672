// TimeValue: a moment on the monotonic clock, for elapsed-time measures
// (periodic work, time-outs, rates). Stamps shown to people take the wall
// clock through wall_clock_now instead; the two never mix.
#pragma once

#include <cstdint>

#include "v4ada/time/clock_source.h"

class TimeValue {
public:
    // Stamped with the current monotonic time.
    TimeValue() { now(); }
    TimeValue(int64_t seconds, int32_t microseconds) : seconds(seconds), microseconds(microseconds) {}

    void now();

    // Milliseconds from earlier to later (negative when later lies before):
    // the microsecond difference truncated to ms, plus the second
    // difference in ms. Computed in 64 bits, clamped to the int32 range.
    static int32_t msBetween(const TimeValue& later, const TimeValue& earlier);
    // Microseconds from earlier to later, exact; clamped to the int64 range.
    static int64_t usBetween(const TimeValue& later, const TimeValue& earlier);
    // Moves the stamp by us (either way), keeping microseconds in range.
    void addUs(int64_t us);

    int64_t seconds = 0;
    int32_t microseconds = 0;  // 0 to 999,999
};

// The wall-clock time (seconds since the epoch and microseconds).
ClockReading wall_clock_now();

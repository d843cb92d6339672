// The clock seam: every reading of the time goes through one process-wide
// ClockSource. The system source reads CLOCK_MONOTONIC for elapsed time and
// CLOCK_REALTIME for stamps; tests install a ManualClock and move it by
// milliseconds instead of sleeping.
#pragma once

#include <atomic>
#include <cstdint>

struct ClockReading {
    int64_t seconds;
    int32_t microseconds;  // 0 to 999,999
};

class ClockSource {
public:
    virtual ~ClockSource() = default;
    // Monotonic time: never jumps with clock changes; for elapsed time.
    virtual ClockReading monotonic() = 0;
    // Wall-clock time since the epoch: for stamps shown to people.
    virtual ClockReading wall() = 0;
};

// The source in use; the system clock unless a test installed another.
ClockSource& clock_source();
// Installs a source (not owned); null puts the system clock back.
void set_clock_source(ClockSource* source);

// A clock that moves only when told to. Both readings advance together.
class ManualClock : public ClockSource {
public:
    explicit ManualClock(int64_t startSeconds = 1000) : micros_(startSeconds * 1000000) {}

    ClockReading monotonic() override { return split(micros_.load()); }
    ClockReading wall() override { return split(micros_.load()); }

    void advanceMs(int64_t ms) { micros_.fetch_add(ms * 1000); }
    void advanceUs(int64_t us) { micros_.fetch_add(us); }
    void set(ClockReading reading) { micros_.store(reading.seconds * 1000000 + reading.microseconds); }

private:
    static ClockReading split(int64_t micros) {
        int64_t s = micros / 1000000;
        int64_t us = micros % 1000000;
        if (us < 0) {
            us += 1000000;
            s -= 1;
        }
        return ClockReading{s, static_cast<int32_t>(us)};
    }

    std::atomic<int64_t> micros_;
};

// Installs a source for a scope and puts the system clock back after.
class ScopedClockSource {
public:
    explicit ScopedClockSource(ClockSource* source) { set_clock_source(source); }
    ~ScopedClockSource() { set_clock_source(nullptr); }
    ScopedClockSource(const ScopedClockSource&) = delete;
    ScopedClockSource& operator=(const ScopedClockSource&) = delete;
};

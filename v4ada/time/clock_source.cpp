#include "v4ada/time/clock_source.h"

#include <ctime>

namespace {

ClockReading read_clock(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return ClockReading{static_cast<int64_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec / 1000)};
}

class SystemClock final : public ClockSource {
public:
    constexpr SystemClock() = default;
    ClockReading monotonic() override { return read_clock(CLOCK_MONOTONIC); }
    ClockReading wall() override { return read_clock(CLOCK_REALTIME); }
};

// Constant-initialised: no static constructor runs for either.
constinit SystemClock system_clock;
constinit std::atomic<ClockSource*> installed{nullptr};

}  // namespace

ClockSource& clock_source() {
    ClockSource* source = installed.load(std::memory_order_acquire);
    return source ? *source : system_clock;
}

void set_clock_source(ClockSource* source) { installed.store(source, std::memory_order_release); }

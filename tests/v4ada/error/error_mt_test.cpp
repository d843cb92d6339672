// The warning handler is process-wide: replacing it while another thread
// warns is no data race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "v4ada/error/error.h"

namespace {

TEST(WarningThreads, HandlerCanBeReplacedWhileAnotherThreadWarns) {
    static std::atomic<int> calls{0};
    const i4_error_handler counters[] = {[](const char*) { calls++; }, [](const char*) { calls++; }};
    set_warning_handler(counters[0]);
    std::thread warner([] {
        for (int i = 0; i < 200; i++) report_warning("w %d", i);
    });
    for (int i = 0; i < 200; i++) set_warning_handler(counters[i % 2]);
    warner.join();
    set_warning_handler(nullptr);
    EXPECT_EQ(calls.load(), 200);
}

}  // namespace

#include "core/bus/message_q.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/task/task_thread.h"
#include "v4ada/threads/linux/counting_signal.h"
#include "v4ada/threads/linux/threads.h"

namespace {

constexpr int kPosters = 4;
constexpr int kPerPoster = 200;

// Runs on the task thread only: checks that each poster's messages arrive
// in the order that poster sent them.
class OrderCheckingHandler : public MessageHandler {
public:
    void handle(Message* message) override {
        int poster = message->code - 100;
        intptr_t sequence = reinterpret_cast<intptr_t>(message->data);
        if (sequence != next[poster]) outOfOrder++;
        next[poster] = sequence + 1;
        if (++handled == kPosters * kPerPoster) done.signal();
    }
    intptr_t next[kPosters] = {};
    int outOfOrder = 0;
    int handled = 0;
    CountingSignal done;
};

class QuickTaskThread : public TaskThread {
public:
    ~QuickTaskThread() override { finishBody(); }

protected:
    void pause(int) override {}
};

TEST(MessageQThreads, PostsFromManyThreadsReachTheTaskThreadInOrder) {
    MessageQ bus;
    OrderCheckingHandler handler;
    for (int p = 0; p < kPosters; ++p) bus.setHandler(&handler, 100 + p);
    QuickTaskThread core;
    core.addTask(&bus);
    core.start();

    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p)
        posters.emplace_back([&bus, p] {
            for (intptr_t i = 0; i < kPerPoster; ++i) bus.post(100 + p, reinterpret_cast<void*>(i));
        });
    for (std::thread& poster : posters) poster.join();

    ASSERT_TRUE(handler.done.wait(20000));
    core.stopAndWait();
    EXPECT_EQ(handler.handled, kPosters * kPerPoster);
    EXPECT_EQ(handler.outOfOrder, 0);
    EXPECT_FALSE(bus.tick(0));
}

}  // namespace

// Lines posted from several threads: each waiting thread returns once its
// own line has run, and only console lines fill the pager.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/ui_capture.h"
#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/bus/message_q.h"
#include "v4ada/threads/linux/threads.h"

namespace {

constexpr int kWaiters = 4;
std::atomic<bool> gRan[kWaiters];

// "mark n": marks line n as run.
void mark(char* line) {
    CommandWords words(line);
    int n = words.at(1) ? atoi(words.at(1)) : -1;
    if (n >= 0 && n < kWaiters) gRan[n].store(true);
}

// "slow": keeps the task thread busy a while.
void slow(char*) { sleep_ms(30); }

// "list": a listing that prints one line.
void list(char*) {
    consoleServant.load()->pager()->begin();
    currentUI()->print("listed");
}

class BusRunner {
public:
    explicit BusRunner(MessageQ* bus) : thread_([this, bus] {
          while (!stop_.load()) {
              if (!bus->tick(0)) sleep_ms(1);
          }
      }) {}
    ~BusRunner() {
        stop_.store(true);
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class ServantRequests : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto& ran : gRan) ran.store(false);
        servant.addPublic("mark", mark, nullptr);
        servant.addPublic("slow", slow, nullptr);
        servant.addPublic("list", list, nullptr);
        servant.subscribe(&bus);
        consoleServant.store(&servant);
        ui.setPageSink(servant.pager());
    }
    void TearDown() override {
        ui.setPageSink(nullptr);
        consoleServant.store(nullptr);
    }

    support::CaptureUI ui;
    Servant servant;
    MessageQ bus;
};

}  // namespace

TEST_F(ServantRequests, EachWaiterReturnsAfterItsOwnLine) {
    BusRunner runner(&bus);
    std::vector<std::thread> waiters;
    std::atomic<int> early{0};
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([this, i, &early] {
            // Lines from elsewhere finish meanwhile.
            bus.post(MSG_COMMAND_LINE, new OwnedString("slow"));
            servant.runAndWait(&bus, ("mark " + std::to_string(i)).c_str(), i == 0);
            if (!gRan[i].load()) early.fetch_add(1);
        });
    }
    for (auto& t : waiters) t.join();
    EXPECT_EQ(early.load(), 0);
}

TEST_F(ServantRequests, OnlyConsoleLinesFillThePager) {
    BusRunner runner(&bus);
    servant.runAndWait(&bus, "list", false);
    EXPECT_FALSE(servant.pager()->isArmed());
    EXPECT_EQ(ui.text(), "listed\n");

    ui.clear();
    servant.runAndWait(&bus, "list", true);
    EXPECT_TRUE(servant.pager()->isArmed());
    EXPECT_EQ(ui.text(), "");
    // Other lines that run before the console shows its pages print at once.
    servant.runAndWait(&bus, "list", false);
    EXPECT_EQ(ui.text(), "listed\n");
    ui.clear();
    servant.showPages();
    EXPECT_EQ(ui.text(), "listed\n");
}

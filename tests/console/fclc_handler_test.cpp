#include "console/ui/fclc_handler.h"

#include <gtest/gtest.h>

#include "core/bus/message_q.h"
#include "core/startup/core_thread.h"
#include "core/ui/core_ui.h"
#include "support/process_objects.h"

namespace {

class CountingCoreUI : public CoreUI {
public:
    void startupDone() override { ++done; }
    int done = 0;
};

}  // namespace

TEST(FclcHandler, StartUpLoadEndsWithTheStartUpNotice) {
    support::ProcessObjects core{support::ProcessObjects::kCoreThread};
    CountingCoreUI ui;
    coreThread()->setUI(&ui);
    MessageQ bus;
    FclcHandler handler;
    handler.subscribe(&bus);

    bus.post(MSG_SAVE_STATE, nullptr);
    bus.post(MSG_LOAD_STATE, nullptr);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(ui.done, 0);
    EXPECT_TRUE(bus.tick(0));
    EXPECT_EQ(ui.done, 1);
    EXPECT_FALSE(bus.tick(0));

    coreThread()->setUI(nullptr);
}

// The core's start and stop in a scratch working directory.
#include "core/core_thread.h"

#include <unistd.h>

#include <atomic>
#include <climits>

#include <gtest/gtest.h>

#include "core/bus/message_q.h"
#include "core/core_scratch_fixture.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "v4ada/threads/linux/threads.h"

namespace {

class NoteHandler : public MessageHandler {
public:
    void handle(Message*) override { handled.store(true); }
    std::atomic<bool> handled{false};
};

bool wait_until(const std::atomic<bool>& flag) {
    for (int i = 0; i < 400 && !flag.load(); ++i) sleep_ms(10);
    return flag.load();
}

}  // namespace

TEST(CoreThreadStart, LoadsRunsTheBusAndSavesOnStop) {
    ScratchDir dir;
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    write_file(dir / "filters.txt", "spam\n");

    initSpecialTags();
    message_bus_create();
    CoreOptions::createInstance();
    CoreThread::createInstance();
    CoreThread* core = coreThread();

    // A message posted before the start is handled once the thread runs.
    NoteHandler note;
    messageQ->setHandler(&note, MSG_RESCHEDULE);
    messageQ->post(MSG_RESCHEDULE, nullptr);
    core->start();
    EXPECT_TRUE(wait_until(note.handled));
    EXPECT_EQ(core->filters()->lineCount(), 1);
    ASSERT_NE(core->socketPool(), nullptr);
    EXPECT_EQ(core->connectionCount(), 0);

    // The core's handler reloads the filters on request.
    write_file(dir / "filters.txt", "spam\neggs\n");
    messageQ->post(MSG_RELOAD_FILTERS, nullptr);
    for (int i = 0; i < 400 && core->filters()->lineCount() != 2; ++i) sleep_ms(10);
    EXPECT_EQ(core->filters()->lineCount(), 2);

    core->join();
    EXPECT_FALSE(file_exists(dir / "pref.met"));
    core->stop();
    EXPECT_TRUE(file_exists(dir / "pref.met"));
    EXPECT_EQ(core->socketPool(), nullptr);

    CoreThread::destroyInstance();
    CoreOptions::destroyInstance();
    message_bus_destroy();
    resetSpecialTags();
    ASSERT_EQ(chdir(previous), 0);
}

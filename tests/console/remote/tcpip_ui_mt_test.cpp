// Output of other threads while the controller goes away: the attached
// controller is read, used and cleared under one lock, so no frame reaches
// a controller being deleted (ThreadSanitizer, AddressSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/download_world.h"
#include "support/part_digests.h"
#include "support/ui_capture.h"
#include "console/remote/gui_controller.h"
#include "console/remote/tcpip_ui.h"
#include "core/task/task_thread.h"

TEST(TcpipUIThreads, OutputWhileTheControllerDisconnects) {
    support::CaptureUI console;
    TcpipUI remote(&console, nullptr, nullptr);
    TaskThread tasks;
    constexpr int kRounds = 40;
    constexpr int kLines = 200;
    for (int round = 0; round < kRounds; round++) {
        auto controller = new GUIController(nullptr, &remote, &tasks);
        ASSERT_TRUE(remote.setController(controller));
        std::atomic<bool> printing{false};
        // The main thread prints and the hashing thread sets its status...
        std::thread printer([&] {
            for (int i = 0; i < kLines; i++) {
                remote.print("line %d", i);
                remote.printRaw("raw %d\n", i);
                remote.setStatus("hashing");
                printing.store(true);
            }
        });
        // ...while the task thread lets the controller go.
        while (!printing.load()) std::this_thread::yield();
        delete controller;
        printer.join();
        EXPECT_FALSE(remote.hasController());
    }
    // Every print reached the console, whether a controller was there or not.
    std::string text = console.text();
    size_t lines = 0;
    for (size_t at = text.find("line "); at != std::string::npos; at = text.find("line ", at + 1)) lines++;
    EXPECT_EQ(lines, static_cast<size_t>(kRounds * kLines));
}

// A login reads the downloads under the list's lock. The pool's own walks
// may print under that lock (a disk found full), so the controller lock
// must never be held while the list's is taken: no order inversion.
TEST(TcpipUIThreads, LoginListsDownloadsWhileTheListHolderPrints) {
    support::DownloadWorld world;
    ASSERT_NE(world.start(support::pattern_bytes(5000), "a.bin"), nullptr);
    TcpipUI remote(&world.ui, nullptr, &world.transferUI);
    TaskThread tasks;
    LLsafe* list = world.pool->downloadList();
    std::atomic<bool> done{false};
    std::thread walker([&] {
        while (!done.load()) {
            LLsafeGuard guard(list);
            remote.print("under the list lock");
        }
    });
    for (int round = 0; round < 40; round++) {
        auto controller = new GUIController(nullptr, &remote, &tasks);
        ASSERT_TRUE(remote.setController(controller));
        delete controller;
    }
    done.store(true);
    walker.join();
}

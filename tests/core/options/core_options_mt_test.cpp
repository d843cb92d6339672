#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/options/core_options.h"
#include "support/process_objects.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

// Hello builders read the own record while the task thread changes its
// addresses and name; the pools read limits the console sets.
TEST(CoreOptionsThreads, OwnRecordAndLimitsAreSharedSafely) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    CoreOptions options;
    options.setNickname("start");
    std::atomic<bool> stop{false};

    std::thread writer([&] {
        for (uint32_t i = 1; i <= 2000; i++) {
            options.setOwnIP(0x0100007F + (i << 24));
            options.setTcpPort(static_cast<uint16_t>(i));
            options.setBuddyIP(i);
            options.setNickname(i % 2 ? "odd" : "even-name");
            options.setUploadLimit(i % 20);
            options.setDownloadLimit(i % 50);
            options.setMaxUpSpeed(i);
            options.setIntOption("doorPort", static_cast<int32_t>(i));
        }
        stop = true;
    });
    int hellos = 0;
    while (!stop || hellos == 0) {
        i4_ram_file_class packet(nullptr, 0, 128);
        int size = options.ownMetaSize();
        ASSERT_TRUE(options.writeOwnMeta(&packet));
        EXPECT_GT(size, 0);
        i4_free(packet.data());
        double up = options.uploadLimit();
        double down = options.downloadLimit();
        EXPECT_GE(up, 0.0);
        EXPECT_GE(down, 0.0);
        options.maxUpSpeed();
        int32_t port = 0;
        options.getIntOption("doorPort", &port);
        options.ownIP();
        options.nickname();
        hellos++;
    }
    writer.join();
    EXPECT_EQ(options.tcpPort(), 2000);
}

}  // namespace

#include "core/meta/meta_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

class OwningList : public MetaList {
public:
    ~OwningList() override { clear(); }
};

Meta* record(int32_t value) {
    auto* meta = new Meta();
    meta->addTag(MetaTag::makeTag(kTagInt, "v", &value));
    return meta;
}

// The size of a packet and the bytes written agree under the list lock
// while another thread adds entries. The checker is bounded and lets the
// adder in between checks: re-taking the (unfair) lock at once starved
// the adder for minutes under ThreadSanitizer.
TEST(MetaListThreads, SizeAndBytesOfAPacketAgreeWhileEntriesAreAdded) {
    constexpr int kRecords = 2000;
    constexpr int kMaxChecks = 200;
    OwningList list;
    std::atomic<bool> done{false};
    std::thread adder([&] {
        for (int i = 0; i < kRecords; i++) list.add(record(i));
        done = true;
    });
    auto check = [&] {
        list.list()->lock();
        int size = list.wireSizeLocked();
        i4_ram_file_class out(nullptr, 0, 4096);
        bool written = list.toNetworkLocked(&out);
        list.list()->unlock();
        EXPECT_TRUE(written);
        EXPECT_EQ(static_cast<i4_pos>(size), out.size());
        i4_free(out.data());
    };
    for (int checks = 0; checks < kMaxChecks && !done; checks++) {
        check();
        std::this_thread::yield();
    }
    adder.join();
    check();
    EXPECT_EQ(kRecords, list.count());
}

TEST(MetaListThreads, CopiesBothWaysAtOnceDoNotDeadlock) {
    OwningList a, b;
    for (int i = 0; i < 20; i++) {
        a.add(record(i));
        b.add(record(100 + i));
    }
    std::thread one([&] {
        for (int i = 0; i < 200; i++) a.copyFrom(&b);
    });
    std::thread two([&] {
        for (int i = 0; i < 200; i++) b.copyFrom(&a);
    });
    one.join();
    two.join();
    EXPECT_EQ(20, a.count());
    EXPECT_EQ(20, b.count());
}

}  // namespace

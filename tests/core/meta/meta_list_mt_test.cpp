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

TEST(MetaListThreads, SizeAndBytesOfAPacketAgreeWhileEntriesAreAdded) {
    OwningList list;
    std::atomic<bool> done{false};
    std::thread adder([&] {
        for (int i = 0; i < 2000; i++) list.add(record(i));
        done = true;
    });
    int checks = 0;
    while (!done || checks == 0) {
        list.list()->lock();
        int size = list.wireSizeLocked();
        i4_ram_file_class out(nullptr, 0, 4096);
        bool written = list.toNetworkLocked(&out);
        list.list()->unlock();
        EXPECT_TRUE(written);
        EXPECT_EQ(static_cast<i4_pos>(size), out.size());
        i4_free(out.data());
        checks++;
    }
    adder.join();
    EXPECT_EQ(2000, list.count());
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

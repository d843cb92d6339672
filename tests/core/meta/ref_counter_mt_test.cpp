#include "core/meta/ref_counter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_deleted{0};

class Counted : public RefCounter {
public:
    ~Counted() override { g_deleted++; }
};

TEST(RefCounter, LastReleaseDeletes) {
    g_deleted = 0;
    auto* object = new Counted();
    object->addRef();
    object->addRef();
    EXPECT_FALSE(object->release());
    EXPECT_EQ(1, object->refCount());
    EXPECT_EQ(0, g_deleted);
    EXPECT_TRUE(object->release());
    EXPECT_EQ(1, g_deleted);
}

TEST(RefCounter, HoldersOnManyThreadsNeedNoLock) {
    g_deleted = 0;
    auto* object = new Counted();
    object->addRef();
    std::vector<std::thread> holders;
    for (int t = 0; t < 4; t++)
        holders.emplace_back([object] {
            for (int i = 0; i < 20000; i++) {
                object->addRef();
                object->release();
            }
        });
    for (std::thread& holder : holders) holder.join();
    EXPECT_EQ(1, object->refCount());
    EXPECT_TRUE(object->release());
    EXPECT_EQ(1, g_deleted);
}

}  // namespace

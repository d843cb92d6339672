#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "v4ada/file/fs.h"
#include "support/files.h"
#include "support/temp_dir.h"

using namespace support;

// Listings on several threads at once each see their own directory.
TEST(FsListingThreads, ParallelListingsDoNotDisturbEachOther) {
    TempDir a;
    TempDir b;
    ASSERT_TRUE(a.ok() && b.ok());
    for (int i = 0; i < 20; ++i) write_file(a / ("a" + std::to_string(i)), "x");
    for (int i = 0; i < 30; ++i) write_file(b / ("b" + std::to_string(i)), "x");
    auto lister = [](std::string path, size_t expected, char first, bool* good) {
        *good = true;
        for (int round = 0; round < 200; ++round) {
            DirListing listing;
            if (!fs_list_directory(path.c_str(), listing, true) || listing.files.size() != expected) {
                *good = false;
                return;
            }
            for (const OwnedString& name : listing.files) {
                if (name.c_str()[0] != first) *good = false;
            }
        }
    };
    bool goodA = false, goodB = false;
    std::thread ta(lister, a.path(), 20, 'a', &goodA);
    std::thread tb(lister, b.path(), 30, 'b', &goodB);
    ta.join();
    tb.join();
    EXPECT_TRUE(goodA);
    EXPECT_TRUE(goodB);
}

#include "v4ada/file/fs_listing.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "v4ada/file/fs.h"
#include "support/files.h"
#include "support/temp_dir.h"

using namespace support;

namespace {

std::vector<std::string> sorted(const std::vector<OwnedString>& names) {
    std::vector<std::string> out;
    for (const OwnedString& name : names) out.emplace_back(name.c_str());
    std::sort(out.begin(), out.end());
    return out;
}

void set_mtime(const std::string& path, time_t when) {
    struct utimbuf times = {when, when};
    ::utime(path.c_str(), &times);
}

}  // namespace

class FsListing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        write_file(dir / "big", std::string(300, 'x'));
        write_file(dir / "small", "x");
        write_file(dir / "mid", std::string(20, 'x'));
        set_mtime(dir / "big", 1000);
        set_mtime(dir / "small", 3000);
        set_mtime(dir / "mid", 2000);
        ASSERT_TRUE(fs_make_dir((dir / "sub").c_str()));
        ASSERT_EQ(::symlink(".", (dir / "loop").c_str()), 0);
        ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    }
    TempDir dir;
};

TEST_F(FsListing, SplitsEntriesFlagsLinksAndKeepsCurrentDirectory) {
    OwnedString before;
    fs_current_dir(before);
    DirListing listing;
    listing.files.emplace_back("earlier");
    listing.status.push_back(FileStatus());
    ASSERT_TRUE(fs_list_directory(dir.path().c_str(), listing, true));
    OwnedString after;
    fs_current_dir(after);
    EXPECT_STREQ(before.c_str(), after.c_str());

    EXPECT_EQ(sorted(listing.files),
              (std::vector<std::string>{"big", "dangling", "earlier", "mid", "small"}));
    EXPECT_EQ(sorted(listing.dirs), (std::vector<std::string>{".", "..", "loop", "sub"}));
    ASSERT_EQ(listing.dirIsLink.size(), listing.dirs.size());
    ASSERT_EQ(listing.status.size(), listing.files.size());
    for (size_t i = 0; i < listing.dirs.size(); ++i) {
        EXPECT_EQ(listing.dirIsLink[i], listing.dirs[i].equals("loop") ? 1 : 0) << listing.dirs[i].c_str();
    }
    for (size_t i = 0; i < listing.files.size(); ++i) {
        if (listing.files[i].equals("big")) {
            EXPECT_EQ(listing.status[i].size, 300);
            EXPECT_EQ(listing.status[i].modified, 1000);
        }
        if (listing.files[i].equals("dangling")) {
            EXPECT_EQ(listing.status[i].size, 0);
        }
    }

    DirListing bare;
    ASSERT_TRUE(fs_list_directory(dir.path().c_str(), bare, false));
    EXPECT_EQ(bare.files.size(), 4u);
    EXPECT_TRUE(bare.status.empty());
    EXPECT_FALSE(fs_list_directory((dir / "none").c_str(), bare, false));
    EXPECT_FALSE(fs_list_directory((dir / "big").c_str(), bare, false));
}

TEST_F(FsListing, SortsNamesWithTheirStatus) {
    ASSERT_TRUE(fs_remove((dir / "dangling").c_str()));
    struct Case {
        int column;
        std::vector<std::string> order;
    } cases[] = {
        {kSortModified, {"big", "mid", "small"}},
        {kSortSize, {"small", "mid", "big"}},
    };
    for (const Case& c : cases) {
        DirListing listing;
        ASSERT_TRUE(fs_list_directory(dir.path().c_str(), listing, true));
        fs_sort_listing(listing, c.column);
        std::vector<std::string> names;
        for (size_t i = 0; i < listing.files.size(); ++i) {
            names.emplace_back(listing.files[i].c_str());
            FileStatus status;
            ASSERT_TRUE(fs_status((dir / names.back()).c_str(), status));
            EXPECT_EQ(listing.status[i].size, status.size) << names.back();
        }
        EXPECT_EQ(names, c.order) << "column " << c.column;
    }
    DirListing withoutStatus;
    ASSERT_TRUE(fs_list_directory(dir.path().c_str(), withoutStatus, false));
    std::vector<std::string> before = {};
    for (const OwnedString& name : withoutStatus.files) before.emplace_back(name.c_str());
    fs_sort_listing(withoutStatus, kSortSize);
    for (size_t i = 0; i < before.size(); ++i) EXPECT_STREQ(withoutStatus.files[i].c_str(), before[i].c_str());
}

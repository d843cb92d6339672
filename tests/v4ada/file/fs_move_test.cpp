#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "v4ada/file/file_copy.h"
#include "v4ada/file/fs.h"
#include "support/files.h"
#include "support/temp_dir.h"

using namespace support;

// Moves within one file system (rename) and across two (copy): the build
// tree's scratch folder and /dev/shm, when they are distinct.
class FsMove : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_TRUE(here.ok());
        if (GetParam()) {
            other = std::make_unique<TempDir>("/dev/shm");
            if (!other->ok()) GTEST_SKIP() << "/dev/shm is not usable here";
            if (device_of(other->path()) == device_of(here.path())) {
                GTEST_SKIP() << "/dev/shm and the build tree are one file system";
            }
        } else {
            other = std::make_unique<TempDir>();
            ASSERT_TRUE(other->ok());
        }
    }
    TempDir here;
    std::unique_ptr<TempDir> other;
};

TEST_P(FsMove, MovesAndReplacesLongerDestination) {
    std::string content(100000, 'a');
    for (size_t i = 0; i < content.size(); i += 7) content[i] = static_cast<char>('0' + i % 10);
    write_file(here / "src", content);
    write_file(*other / "dst", std::string(250000, 'z'));
    EXPECT_EQ(fs_move((here / "src").c_str(), (*other / "dst").c_str()), 0);
    EXPECT_FALSE(file_exists(here / "src"));
    EXPECT_EQ(read_file(*other / "dst"), content);

    write_file(here / "empty", "");
    EXPECT_EQ(fs_move((here / "empty").c_str(), (*other / "e").c_str()), 0);
    EXPECT_EQ(read_file(*other / "e"), "");
    EXPECT_FALSE(file_exists(here / "empty"));
}

TEST_P(FsMove, FailureKeepsSource) {
    ASSERT_TRUE(fs_make_dir((*other / "adir").c_str()));
    for (const char* content : {"data", ""}) {
        write_file(here / "src", content);
        // A destination that cannot be written: an existing directory, and
        // a path below a missing directory.
        EXPECT_EQ(fs_move((here / "src").c_str(), (*other / "adir").c_str()), 1);
        EXPECT_EQ(fs_move((here / "src").c_str(), (*other / "none/x").c_str()), 1);
        EXPECT_EQ(read_file(here / "src"), content);
        FileStatus status;
        EXPECT_TRUE(fs_status((*other / "adir").c_str(), status) && status.directory == 1);
    }
    EXPECT_EQ(fs_move((here / "missing").c_str(), (*other / "dst").c_str()), 1);
    EXPECT_FALSE(file_exists(*other / "dst"));
}

INSTANTIATE_TEST_SUITE_P(Both, FsMove, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AcrossFileSystems" : "SameFileSystem"; });

TEST(FsKeepAside, RenamesWithFreeSuffix) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir / "known.met";
    const char* expected[] = {"known.met.corrupt", "known.met.corrupt.1", "known.met.corrupt.2"};
    for (int round = 0; round < 3; ++round) {
        write_file(path, "bad" + std::to_string(round));
        OwnedString aside = fs_keep_aside(path.c_str());
        ASSERT_FALSE(aside.isNull());
        EXPECT_EQ(std::string(aside.c_str()), dir / expected[round]);
        EXPECT_FALSE(file_exists(path));
        EXPECT_EQ(read_file(aside.c_str()), "bad" + std::to_string(round));
    }
    EXPECT_TRUE(fs_keep_aside(path.c_str()).isNull());
    EXPECT_TRUE(fs_keep_aside(nullptr).isNull());
}

TEST(FileCopy, AppendFile) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string tail(100000, 't');
    write_file(dir / "dst", "head");
    write_file(dir / "src", tail);
    EXPECT_TRUE(fs_append_file((dir / "dst").c_str(), (dir / "src").c_str()));
    EXPECT_EQ(read_file(dir / "dst"), "head" + tail);
    EXPECT_EQ(read_file(dir / "src"), tail);

    EXPECT_FALSE(fs_append_file((dir / "dst").c_str(), (dir / "none").c_str()));
    EXPECT_FALSE(fs_append_file((dir / "no/dst").c_str(), (dir / "src").c_str()));
    EXPECT_EQ(read_file(dir / "dst"), "head" + tail);
}

TEST_P(FsMove, CopyThatCannotBeWrittenWholeKeepsSource) {
    std::string content(100000, 'c');
    write_file(here / "src", content);
    int result;
    {
        FileSizeLimit full(30000);
        result = fs_move((here / "src").c_str(), (*other / "dst").c_str());
    }
    if (GetParam()) {
        EXPECT_EQ(result, 1);
        EXPECT_FALSE(file_exists(*other / "dst"));
        EXPECT_EQ(read_file(here / "src"), content);
    } else {
        EXPECT_EQ(result, 0);  // a rename writes no data
        EXPECT_EQ(read_file(*other / "dst"), content);
    }
}

TEST(FileCopy, WritesCutShortFailAndUndo) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string content(100000, 's');
    write_file(dir / "src", content);
    write_file(dir / "dst", "head");
    bool appended;
    bool moved;
    {
        FileSizeLimit full(30000);
        appended = fs_append_file((dir / "dst").c_str(), (dir / "src").c_str());
        moved = fs_move_tail((dir / "src").c_str(), (dir / "tail").c_str(), 60000);
    }
    EXPECT_FALSE(appended);
    EXPECT_EQ(read_file(dir / "dst"), "head");
    EXPECT_FALSE(moved);
    EXPECT_EQ(read_file(dir / "src"), content);
    EXPECT_FALSE(file_exists(dir / "tail"));
}

TEST(FileCopy, MoveTail) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string content;
    for (int i = 0; i < 30000; ++i) content += static_cast<char>('a' + i % 26);
    std::string src = dir / "src";
    std::string dst = dir / "dst";

    struct Case {
        i4_pos n;
        bool result;
    } cases[] = {
        {20000, true},
        {0, true},
        {30001, false},
    };
    for (const Case& c : cases) {
        write_file(src, content);
        fs_remove(dst.c_str());
        EXPECT_EQ(fs_move_tail(src.c_str(), dst.c_str(), c.n), c.result) << c.n;
        if (c.result) {
            EXPECT_EQ(read_file(src), content.substr(0, content.size() - c.n)) << c.n;
            EXPECT_EQ(read_file(dst), content.substr(content.size() - c.n)) << c.n;
        } else {
            EXPECT_EQ(read_file(src), content) << c.n;
            EXPECT_FALSE(file_exists(dst)) << c.n;
        }
    }

    // A destination with old, longer content is replaced.
    write_file(src, content);
    write_file(dst, std::string(50000, 'z'));
    EXPECT_TRUE(fs_move_tail(src.c_str(), dst.c_str(), 10));
    EXPECT_EQ(read_file(dst), content.substr(content.size() - 10));

    // The whole file moves.
    write_file(src, content);
    EXPECT_TRUE(fs_move_tail(src.c_str(), dst.c_str(), content.size()));
    EXPECT_FALSE(file_exists(src));
    EXPECT_EQ(read_file(dst), content);

    // The tail cannot be written: the source stays whole.
    write_file(src, content);
    EXPECT_FALSE(fs_move_tail(src.c_str(), (dir / "no/dst").c_str(), 100));
    EXPECT_FALSE(fs_move_tail(src.c_str(), (dir / "no/dst").c_str(), content.size()));
    EXPECT_EQ(read_file(src), content);
}

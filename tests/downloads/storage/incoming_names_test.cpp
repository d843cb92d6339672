// Names in the temporary and incoming directories: fresh data file
// numbers and the move of a finished file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "downloads/storage/move_to_incoming.h"
#include "downloads/storage/temp_name_allocator.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

namespace storage_test {
namespace {

using namespace support;

TEST(TempNames, SkipNumbersWithADataFileRecordOrBackup) {
    support::TempDir dir;
    write_file(dir / "1.part", Bytes{1});
    write_file(dir / "3.part.met", Bytes{1});
    write_file(dir / "4.part.met.bak", Bytes{1});
    TempNameAllocator names;
    EXPECT_STREQ(names.allocate(dir.path().c_str()).c_str(), "2.part");
    EXPECT_STREQ(names.allocate(dir.path().c_str()).c_str(), "5.part");
    EXPECT_STREQ(names.allocate(dir.path().c_str(), ".x").c_str(), "6.x");
    names.reset();
    EXPECT_STREQ(names.allocate(dir.path().c_str()).c_str(), "2.part");
}

// A temporary directory whose names cannot be checked answers every number
// alike: the allocation fails at once and says why instead of walking all
// 2^32 numbers (root searches any directory, so the cases are not modes).
TEST(TempNames, ADirectoryThatCannotBeSearchedFailsWithAMessage) {
    struct Case {
        const char* what;
        std::string temp;
        const char* error;
    };
    support::TempDir dir;
    write_file(dir / "plain", Bytes{1});
    std::filesystem::create_symlink(dir / "loop", dir / "loop");
    const Case cases[] = {
        {"a plain file", dir / "plain", "Not a directory"},
        {"a symlink loop", dir / "loop", "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        support::CaptureUI output;
        TempNameAllocator names;
        EXPECT_TRUE(names.allocate(c.temp.c_str()).isNull()) << c.what;
        EXPECT_EQ(output.text(), "ERROR: " + c.temp + ": " + c.error + "\n") << c.what;
    }
}

struct MoveCase {
    const char* what;
    std::vector<std::string> present;  // names already in incoming
    const char* fileName;
    const char* expected;
};

class MoveToIncoming : public ::testing::TestWithParam<MoveCase> {};

TEST_P(MoveToIncoming, NeverReplacesAFile) {
    const MoveCase& c = GetParam();
    support::TempDir dir;
    std::filesystem::create_directories(dir / "in");
    for (const std::string& name : c.present) write_file(dir / ("in/" + name), Bytes{9});
    write_file(dir / "7.part", Bytes{1, 2, 3});
    OwnedString finalPath;
    ASSERT_TRUE(moveToIncoming((dir / "7.part").c_str(), c.fileName, (dir / "in").c_str(), finalPath)) << c.what;
    EXPECT_EQ(std::string(finalPath.c_str()), dir / (std::string("in/") + c.expected)) << c.what;
    EXPECT_EQ(read_bytes(finalPath.c_str()), (Bytes{1, 2, 3}));
    EXPECT_FALSE(file_exists(dir / "7.part"));
    for (const std::string& name : c.present) EXPECT_EQ(read_bytes(dir / ("in/" + name)), Bytes{9}) << name;
}

std::vector<std::string> numbered(int upTo) {
    std::vector<std::string> names = {"a.iso"};
    for (int k = 2; k <= upTo; k++) names.push_back(std::to_string(k) + "_a.iso");
    return names;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MoveToIncoming,
    ::testing::Values(MoveCase{"free", {}, "a.iso", "a.iso"},
                      MoveCase{"two taken", {"a.iso", "2_a.iso"}, "a.iso", "3_a.iso"},
                      MoveCase{"a path", {}, "dir/sub\\name.bin", "name.bin"},
                      MoveCase{"trailing separator", {}, "dir/name.bin/", "name.bin"},
                      MoveCase{"dot", {}, ".", "_"},
                      MoveCase{"dot dot", {}, "..", "__"},
                      MoveCase{"empty", {}, "", "_"},
                      MoveCase{"past 99", numbered(99), "a.iso", "100_a.iso"}));

TEST(MoveToIncomingFailure, KeepsTheSourceAndSaysWhere) {
    support::TempDir dir;
    support::CaptureUI output;
    write_file(dir / "7.part", Bytes{1});
    OwnedString finalPath;
    std::string missing = dir / "none";
    EXPECT_FALSE(moveToIncoming((dir / "7.part").c_str(), "f.bin", missing.c_str(), finalPath));
    EXPECT_EQ(std::string(finalPath.c_str()), dir / "7.part");
    EXPECT_EQ(read_bytes(dir / "7.part"), Bytes{1});
    EXPECT_EQ(output.takeText(), dir / "7.part" + " could not be moved to " + missing + "/f.bin\n");
}

TEST(MoveToIncomingFailure, AMissingSourceLeavesNoPlaceholder) {
    support::TempDir dir;
    support::CaptureUI output;
    std::filesystem::create_directories(dir / "in");
    OwnedString finalPath;
    EXPECT_FALSE(moveToIncoming((dir / "gone.part").c_str(), "f.bin", (dir / "in").c_str(), finalPath));
    EXPECT_FALSE(file_exists(dir / "in/f.bin"));
}

// The copy across file systems still never replaces a taken name.
TEST(MoveToIncomingAcrossFileSystems, CopiesIntoAFreeName) {
    support::TempDir dir;
    support::TempDir other("/dev/shm");
    if (!other.ok()) GTEST_SKIP() << "/dev/shm is not usable here";
    if (device_of(other.path()) == device_of(dir.path())) GTEST_SKIP() << "/dev/shm and the build tree are one file system";
    std::filesystem::create_directories(dir / "in");
    write_file(dir / "in/a.iso", Bytes{9});
    write_file(other / "7.part", Bytes{1, 2, 3});
    OwnedString finalPath;
    ASSERT_TRUE(moveToIncoming((other / "7.part").c_str(), "a.iso", (dir / "in").c_str(), finalPath));
    EXPECT_EQ(std::string(finalPath.c_str()), dir / "in/2_a.iso");
    EXPECT_EQ(read_bytes(finalPath.c_str()), (Bytes{1, 2, 3}));
    EXPECT_EQ(read_bytes(dir / "in/a.iso"), Bytes{9});
    EXPECT_FALSE(file_exists(other / "7.part"));
}

}  // namespace
}  // namespace storage_test

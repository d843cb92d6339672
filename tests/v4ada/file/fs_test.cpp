#include "v4ada/file/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <memory>
#include <sys/statvfs.h>
#include <unistd.h>

#include "support/files.h"
#include "support/temp_dir.h"
#include "v4ada/file/unix_file.h"

using namespace support;

TEST(FsOpen, FlagTable) {
    struct Case {
        int flags;
        int mode;
    } cases[] = {
        {1, O_RDONLY},
        {5, O_RDONLY},
        {9, O_RDONLY},
        {13, O_RDONLY},
        {2, O_WRONLY | O_CREAT},
        {3, O_RDWR | O_CREAT},
        {4, O_RDONLY | O_CREAT},
        {8, O_RDONLY | O_CREAT},
        {12, O_RDONLY | O_CREAT},
        {6, O_WRONLY | O_CREAT | O_APPEND},
        {7, O_RDWR | O_CREAT | O_APPEND},
        {10, O_WRONLY | O_CREAT | O_TRUNC},
        {11, O_RDWR | O_CREAT | O_TRUNC},
        {14, O_WRONLY | O_CREAT | O_TRUNC},
        {15, O_RDWR | O_CREAT | O_TRUNC},
    };
    for (const Case& c : cases) EXPECT_EQ(fs_open_mode(c.flags), c.mode) << "flags " << c.flags;
}

TEST(FsOpen, CreatesTruncatesAppendsAndRefusesMissing) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir / "f";
    EXPECT_EQ(fs_open(path.c_str(), kFsRead), nullptr);
    EXPECT_FALSE(file_exists(path));

    std::unique_ptr<i4_file> file(fs_open(path.c_str(), kFsWrite | kFsTruncate));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->write("hello world", 11), 11);
    file.reset();
    file.reset(fs_open(path.c_str(), kFsWrite | kFsTruncate));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->size(), 0u);
    EXPECT_EQ(file->write("abc", 3), 3);
    file.reset(fs_open(path.c_str(), kFsWrite | kFsAppend));
    ASSERT_NE(file, nullptr);
    file->seek(0);
    EXPECT_EQ(file->write("de", 2), 2);
    file.reset();
    EXPECT_EQ(read_file(path), "abcde");

    file.reset(fs_open(path.c_str(), kFsRead));
    ASSERT_NE(file, nullptr);
    char buffer[8] = {};
    EXPECT_EQ(file->read(buffer, 8), 5);
    EXPECT_EQ(file->read(buffer, 8), 0);
    EXPECT_EQ(file->write("x", 1), -1);
    EXPECT_TRUE(static_cast<i4_unix_file_class*>(file.get())->writeFailed());
}

TEST(FsOpen, PathBytesAreNotConverted) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    // Backslashes and drive-like prefixes are ordinary name bytes here.
    for (const char* name : {"a\\b", "c:", "x:y"}) {
        std::string path = dir / name;
        std::unique_ptr<i4_file> file(fs_open(path.c_str(), kFsWrite));
        ASSERT_NE(file, nullptr) << name;
        file.reset();
        EXPECT_TRUE(file_exists(path)) << name;
        EXPECT_TRUE(fs_remove(path.c_str())) << name;
    }
    char buffer[16];
    EXPECT_TRUE(fs_convert_path("c:/x\\y", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "c:/x\\y");
    EXPECT_FALSE(fs_convert_path("0123456789abcdef", buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
}

TEST(FsOpen, CreationModesFollowUmask) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    mode_t old = ::umask(022);
    std::string file = dir / "f";
    std::string sub = dir / "d";
    delete fs_open(file.c_str(), kFsWrite);
    bool made = fs_make_dir(sub.c_str());
    ::umask(old);
    ASSERT_TRUE(made);
    struct stat st;
    ASSERT_EQ(fs_stat_raw(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    ASSERT_EQ(fs_stat_raw(sub.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_FALSE(fs_make_dir(sub.c_str()));
    EXPECT_TRUE(fs_remove_dir(sub.c_str()));
    EXPECT_FALSE(fs_remove_dir(sub.c_str()));
    EXPECT_EQ(fs_stat_raw((dir / "none").c_str(), &st), -1);
}

TEST(FsStatus, FillsRecordAndReportsMissing) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    write_file(dir / "f", "12345");
    FileStatus status;
    ASSERT_TRUE(fs_status((dir / "f").c_str(), status));
    EXPECT_EQ(status.size, 5);
    EXPECT_EQ(status.directory, 0);
    EXPECT_EQ(status.kind, FileKind::kRegular);
    EXPECT_GT(status.modified, 0);
    ASSERT_TRUE(fs_status(dir.path().c_str(), status));
    EXPECT_EQ(status.directory, 1);
    EXPECT_EQ(status.kind, FileKind::kDirectory);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    ASSERT_TRUE(fs_status((dir / "fifo").c_str(), status));
    EXPECT_EQ(status.kind, FileKind::kOther);
    EXPECT_FALSE(fs_status((dir / "none").c_str(), status));
    EXPECT_EQ(status.directory, 0);
    EXPECT_TRUE(fs_is_listable(dir.path().c_str()));
    EXPECT_FALSE(fs_is_listable((dir / "f").c_str()));
    EXPECT_FALSE(fs_is_listable((dir / "none").c_str()));

    EXPECT_TRUE(fs_truncate((dir / "f").c_str(), 2));
    EXPECT_EQ(read_file(dir / "f"), "12");
    EXPECT_FALSE(fs_truncate((dir / "none").c_str(), 0));
}

TEST(FsOpenRegular, OpensRegularFilesOnlyAndNeverWaits) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    write_file(dir / "f", "12345");
    // A FIFO without a writer: a blocking open would wait for good.
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::unique_ptr<i4_file> file(fs_open_regular((dir / "f").c_str()));
    ASSERT_TRUE(file);
    char bytes[5];
    EXPECT_EQ(file->read(bytes, 5), 5);
    for (const char* name : {"fifo", "none"}) {
        EXPECT_EQ(fs_open_regular((dir / name).c_str()), nullptr) << name;
        EXPECT_EQ(fs_open_regular_fd((dir / name).c_str(), true), -1) << name;
    }
    EXPECT_EQ(fs_open_regular(dir.path().c_str()), nullptr);
    EXPECT_EQ(fs_open_regular(nullptr), nullptr);

    // For writing too, blocking again once open.
    int fd = fs_open_regular_fd((dir / "f").c_str(), true);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDWR);
    EXPECT_EQ(::pwrite(fd, "ab", 2, 0), 2);
    ::close(fd);
    EXPECT_EQ(read_file(dir / "f"), "ab345");
}

TEST(FsDirs, CurrentAndChange) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    OwnedString before;
    ASSERT_TRUE(fs_current_dir(before));
    ASSERT_TRUE(fs_change_dir(dir.path().c_str()));
    OwnedString inside;
    fs_current_dir(inside);
    OwnedString expected;
    fs_absolute_path(dir.path().c_str(), expected);
    EXPECT_STREQ(inside.c_str(), expected.c_str());
    EXPECT_TRUE(fs_change_dir(before.c_str()));
    EXPECT_FALSE(fs_change_dir((dir / "none").c_str()));
}

TEST(FsFreeSpace, MatchesStatvfsAndFlagsFailure) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    bool queried = false;
    uint64_t free1 = fs_free_space(dir.path().c_str(), &queried);
    struct statvfs info;
    ASSERT_EQ(::statvfs(dir.path().c_str(), &info), 0);
    uint64_t expected = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    EXPECT_TRUE(queried);
    // Other processes write meanwhile: allow 64 MiB of drift.
    uint64_t drift = free1 > expected ? free1 - expected : expected - free1;
    EXPECT_LT(drift, 64ull << 20);

    EXPECT_EQ(fs_free_space((dir / "none/deeper").c_str(), &queried), kFsFreeSpaceUnknown);
    EXPECT_FALSE(queried);
    EXPECT_EQ(kFsFreeSpaceUnknown, 1099494785025ull);
}

TEST(UnixFile, SparseFilePastTwoGiB) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir / "big";
    const i4_pos size = 3ull << 30;
    const i4_pos marks[] = {(2ull << 30) + 7, (3ull << 30) - 8};
    {
        std::unique_ptr<i4_file> file(fs_open(path.c_str(), kFsWrite | kFsRead));
        ASSERT_NE(file, nullptr);
        for (i4_pos at : marks) {
            ASSERT_EQ(file->seek(at), at);
            ASSERT_EQ(file->write_64(at), 8);
            EXPECT_EQ(file->tell(), at + 8);
        }
        EXPECT_EQ(file->size(), size);
    }
    FileStatus status;
    ASSERT_TRUE(fs_status(path.c_str(), status));
    EXPECT_EQ(status.size, static_cast<int64_t>(size));

    std::unique_ptr<i4_unix_file_class> file(fs_open_unix(path.c_str(), kFsRead));
    ASSERT_NE(file, nullptr);
    for (i4_pos at : marks) {
        uint64_t value = 0;
        ASSERT_EQ(file->seek(at), at);
        ASSERT_EQ(file->read(&value, 8), 8);
        EXPECT_EQ(value, at);
        value = 0;
        ASSERT_EQ(file->readAt(&value, 8, at), 8);
        EXPECT_EQ(value, at);
    }
    // Past 4 GiB the position still holds.
    EXPECT_EQ(file->seek(5ull << 30), 5ull << 30);
    char byte;
    EXPECT_EQ(file->read(&byte, 1), 0);
}

TEST(UnixFile, WriteAtLeavesThePositionAndReportsAFullDisk) {
    TempDir dir;
    std::string path = dir / "pieces";
    std::unique_ptr<i4_unix_file_class> file(fs_open_unix(path.c_str(), kFsRead | kFsWrite));
    ASSERT_NE(file, nullptr);
    const i4_pos far = (4ull << 30) + 3;  // past 4 GiB, sparse
    EXPECT_EQ(file->writeAt("tail", 4, far), 4);
    EXPECT_EQ(file->writeAt("head", 4, 0), 4);
    EXPECT_EQ(file->tell(), 0u);
    EXPECT_EQ(file->size(), far + 4);
    char back[4];
    ASSERT_EQ(file->readAt(back, 4, far), 4);
    EXPECT_EQ(std::string(back, 4), "tail");
    EXPECT_FALSE(file->writeFailed());
    EXPECT_TRUE(file->syncData());
    {
        FileSizeLimit full(1000);
        EXPECT_EQ(file->writeAt("x", 1, 2000), -1);
    }
    EXPECT_TRUE(file->writeFailed());
}

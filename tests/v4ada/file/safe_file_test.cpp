#include "v4ada/file/safe_file.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "v4ada/file/fs.h"
#include "v4ada/file/path_lock.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "v4ada/file/unix_file.h"

using namespace support;

namespace {

constexpr int kWriterFlags = kFsWrite | kFsTruncate;

bool save(const std::string& path, const std::string& content, SafeFileFactory factory = nullptr) {
    i4_safe_file safe(path.c_str(), kWriterFlags, factory);
    if (safe.file() == nullptr) return false;
    for (size_t at = 0; at < content.size(); at += 1000) {
        int n = static_cast<int>(std::min<size_t>(1000, content.size() - at));
        safe.file()->write(content.data() + at, n);  // results are left unchecked, as owners do
    }
    return safe.close();
}

std::string load(const std::string& path) {
    i4_safe_file safe(path.c_str(), kFsRead);
    if (safe.file() == nullptr) return "<missing>";
    std::string out(safe.file()->size(), '\0');
    if (!out.empty()) safe.file()->readAll(out.data(), static_cast<int>(out.size()));
    EXPECT_TRUE(safe.close());
    return out;
}

// Fails the write that would pass a byte budget (short write, then -1),
// or the sync.
int failAfterBytes = -1;
bool failSync = false;

class FaultyFile : public i4_unix_file_class {
public:
    explicit FaultyFile(int fd) : i4_unix_file_class(fd) {}
    bool sync() override { return !failSync && i4_unix_file_class::sync(); }

protected:
    long writeOnce(const void* buffer, unsigned long n) override {
        if (failAfterBytes >= 0) {
            if (failAfterBytes == 0) {
                errno = ENOSPC;
                return -1;
            }
            if (n > static_cast<unsigned long>(failAfterBytes)) n = failAfterBytes;
            failAfterBytes -= static_cast<int>(n);
        }
        return i4_unix_file_class::writeOnce(buffer, n);
    }
};

i4_unix_file_class* faulty_factory(int fd) { return new FaultyFile(fd); }

}  // namespace

class SafeFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        path = dir / "pref.met";
        failAfterBytes = -1;
        failSync = false;
    }
    void TearDown() override { EXPECT_EQ(path_lock_count(), 0); }
    void expectOnly(const std::string& content) {
        EXPECT_EQ(read_file(path), content);
        EXPECT_FALSE(file_exists(path + ".tmp"));
        EXPECT_FALSE(file_exists(path + ".bak"));
    }
    TempDir dir;
    std::string path;
};

TEST_F(SafeFile, WriterReplacesAndReaderReads) {
    EXPECT_EQ(load(path), "<missing>");
    ASSERT_TRUE(save(path, "first"));
    expectOnly("first");
    std::string longer(5000, 'L');
    ASSERT_TRUE(save(path, longer));
    expectOnly(longer);
    ASSERT_TRUE(save(path, "short"));
    expectOnly("short");
    EXPECT_EQ(load(path), "short");
}

TEST_F(SafeFile, WriterNotClosedKeepsOldFile) {
    ASSERT_TRUE(save(path, "old"));
    {
        i4_safe_file safe(path.c_str(), kWriterFlags);
        ASSERT_NE(safe.file(), nullptr);
        safe.file()->write("new content", 11);
        EXPECT_EQ(read_file(path), "old");
    }
    expectOnly("old");
}

TEST_F(SafeFile, FailedSaveReportsAndKeepsOldFile) {
    ASSERT_TRUE(save(path, "old content"));
    std::string big(10000, 'n');
    struct Case {
        int budget;
        bool sync;
    } cases[] = {{0, false}, {1, false}, {4500, false}, {-1, true}};
    for (const Case& c : cases) {
        failAfterBytes = c.budget;
        failSync = c.sync;
        EXPECT_FALSE(save(path, big, faulty_factory)) << c.budget;
        expectOnly("old content");
    }
    failAfterBytes = -1;
    failSync = false;
    {
        FileSizeLimit full(5000);  // the disk fills up during the save
        EXPECT_FALSE(save(path, big));
    }
    expectOnly("old content");
    EXPECT_TRUE(save(path, big, faulty_factory));
    expectOnly(big);
}

TEST_F(SafeFile, WholeBufferWrite) {
    ASSERT_TRUE(i4_safe_write(path.c_str(), "first", 5));
    expectOnly("first");
    ASSERT_TRUE(i4_safe_write(path.c_str(), nullptr, 0));
    expectOnly("");
    std::string big(10000, 'n');
    {
        FileSizeLimit full(5000);
        EXPECT_FALSE(i4_safe_write(path.c_str(), big.data(), big.size()));
    }
    expectOnly("");
    EXPECT_FALSE(i4_safe_write((dir / "missing/x").c_str(), "x", 1));
    EXPECT_FALSE(i4_safe_write(path.c_str(), nullptr, 1));
}

TEST_F(SafeFile, UnopenableWriterAndNullPath) {
    std::string inside = dir / "missing/pref.met";
    i4_safe_file writer(inside.c_str(), kWriterFlags);
    EXPECT_EQ(writer.file(), nullptr);
    EXPECT_FALSE(writer.close());
    i4_safe_file none(nullptr, kWriterFlags);
    EXPECT_EQ(none.file(), nullptr);
    EXPECT_FALSE(none.close());
    i4_safe_file reader(path.c_str(), kFsRead);
    EXPECT_EQ(reader.file(), nullptr);
    EXPECT_FALSE(file_exists(path));
}

TEST_F(SafeFile, LoneBackupIsReadAndRestored) {
    write_file(path + ".bak", "from an interrupted save");
    EXPECT_EQ(load(path), "from an interrupted save");
    expectOnly("from an interrupted save");

    // A writer that gives up keeps the recovered file.
    ASSERT_TRUE(fs_remove(path.c_str()));
    write_file(path + ".bak", "recovered");
    {
        i4_safe_file safe(path.c_str(), kWriterFlags);
        ASSERT_NE(safe.file(), nullptr);
        safe.file()->write("x", 1);
    }
    expectOnly("recovered");

    // With both present the name wins and the backup is left alone.
    write_file(path + ".bak", "stale");
    EXPECT_EQ(load(path), "recovered");
    EXPECT_EQ(read_file(path + ".bak"), "stale");
}

TEST_F(SafeFile, WriterWithoutTruncationWorksOnOldContent) {
    ASSERT_TRUE(save(path, "0123456789"));
    {
        i4_safe_file safe(path.c_str(), kFsWrite);
        ASSERT_NE(safe.file(), nullptr);
        safe.file()->write("ab", 2);
        EXPECT_TRUE(safe.close());
    }
    expectOnly("ab23456789");
    {
        i4_safe_file safe(path.c_str(), kFsWrite | kFsAppend);
        ASSERT_NE(safe.file(), nullptr);
        safe.file()->seek(0);
        safe.file()->write("Z", 1);
        EXPECT_TRUE(safe.close());
    }
    expectOnly("ab23456789Z");
}

// The old file's permissions stay, but its owner can always read and
// write the replacement (a 000 file would repeat itself on every save).
TEST_F(SafeFile, KeepsPermissionsOfTheOldFileWithOwnerReadWrite) {
    const struct {
        mode_t before, after;
    } cases[] = {{0600, 0600}, {0640, 0640}, {0000, 0600}, {0444, 0644}, {0200, 0600}};
    for (const auto& c : cases) {
        ASSERT_TRUE(save(path, "secret"));
        ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
        ASSERT_TRUE(save(path, "secret 2"));
        struct stat st;
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.after) << std::oct << c.before;
    }
}

namespace {

// Version v of the file: a 4-byte version, then a version-dependent number
// of copies of one letter.
std::string version(uint32_t v) {
    std::string out(4, '\0');
    std::memcpy(out.data(), &v, 4);
    out += std::string(20000 + (v % 5) * 7000, static_cast<char>('a' + v % 26));
    return out;
}

bool is_some_version(const std::string& content) {
    if (content.size() < 4) return false;
    uint32_t v;
    std::memcpy(&v, content.data(), 4);
    return content == version(v);
}

}  // namespace

// A writer killed at any instant of a save leaves the old or the new
// complete file, and the next save and load work.
TEST_F(SafeFile, KilledWriterLeavesOldOrNewContent) {
    ASSERT_TRUE(save(path, version(0)));
    uint32_t next = 1;
    int changed = 0;
    for (int round = 0; round < 40; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (uint32_t v = next;; ++v) {
                if (!save(path, version(v))) ::_exit(3);
            }
        }
        ::usleep(static_cast<useconds_t>(100 + (round * 337) % 3000));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself: " << status;
        std::string content = read_file(path);
        ASSERT_TRUE(is_some_version(content)) << "round " << round << ": " << content.size() << " bytes";
        EXPECT_EQ(load(path), content);
        uint32_t seen;
        std::memcpy(&seen, content.data(), 4);
        if (seen != 0) changed++;
        next += 1000;
    }
    RecordProperty("rounds_with_new_content", changed);
    ASSERT_TRUE(save(path, version(7)));
    expectOnly(version(7));
}

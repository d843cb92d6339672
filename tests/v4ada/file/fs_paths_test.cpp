#include "v4ada/file/fs_paths.h"

#include <gtest/gtest.h>
#include <string>

#include "v4ada/file/fs.h"
#include "support/files.h"
#include "support/temp_dir.h"

using namespace support;

namespace {
std::string text(const OwnedString& s) { return s.c_str() ? s.c_str() : "<null>"; }
}  // namespace

TEST(FsPathParts, Table) {
    struct Case {
        const char* path;
        const char* dir;
        const char* name;
        const char* ext;
    } cases[] = {
        {"dir/name.tar.gz", "dir", "name.tar", "gz"},
        {"name", "<keep>", "name", "<keep>"},
        {"name.txt", "<keep>", "name", "txt"},
        {"/a.b/c", "/a.b", "c", "<keep>"},
        {"/top", "", "top", "<keep>"},
        {"a/b/", "a/b", "", "<keep>"},
        {"a/.hidden", "a", "", "hidden"},
        {"a\\b.c", "<keep>", "a\\b", "c"},
    };
    for (const Case& c : cases) {
        OwnedString dir("<keep>"), name("<keep>"), ext("<keep>");
        EXPECT_TRUE(fs_path_parts(c.path, dir, name, ext));
        EXPECT_EQ(text(dir), c.dir) << c.path;
        EXPECT_EQ(text(name), c.name) << c.path;
        EXPECT_EQ(text(ext), c.ext) << c.path;
    }
}

TEST(FsSafeDotName, Table) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {".", "_"},
        {"..", "__"},
        {"...", "..."},
        {"name.txt", "name.txt"},
        {"", ""},
        {"../etc/passwd", ".._etc_passwd"},
        {"/abs", "_abs"},
        {"a/..", "a_.."},
        {"./", "._"},
        {"..\\x", "..\\x"},
    };
    for (const Case& c : cases) {
        std::string buffer = c.in;
        fs_safe_dot_name(buffer.data());
        EXPECT_EQ(buffer, c.out) << c.in;
        OwnedString owned(c.in);
        fs_safe_dot_name(owned);
        EXPECT_EQ(text(owned), c.out) << c.in;
    }
    fs_safe_dot_name(static_cast<char*>(nullptr));
    OwnedString null(static_cast<const char*>(nullptr));
    fs_safe_dot_name(null);
    EXPECT_TRUE(null.isNull());
}

TEST(FsCreatePath, Table) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    write_file(dir / "plain", "x");
    struct Case {
        std::string path;
        bool result;
        std::string mustExist;
        std::string mustNotExist;
    } cases[] = {
        {dir / "a/b/c", true, dir / "a/b/c", ""},
        {dir / "a/b/c", true, dir / "a/b/c", ""},
        {dir / "x//y/", true, dir / "x/y", ""},
        {dir / "plain/sub/deeper", false, "", dir / "plain/sub"},
        {dir / "plain", false, "", ""},
        {dir / "q\\r", true, dir / "q\\r", dir / "q"},
        {"", false, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fs_create_path(c.path.c_str()), c.result) << c.path;
        if (!c.mustExist.empty()) {
            FileStatus status;
            EXPECT_TRUE(fs_status(c.mustExist.c_str(), status) && status.directory == 1) << c.path;
        }
        if (!c.mustNotExist.empty()) {
            EXPECT_FALSE(file_exists(c.mustNotExist)) << c.path;
        }
    }
    EXPECT_FALSE(fs_create_path(nullptr));
}

TEST(FsAbsoluteAndRelative, ResolveAgainstCurrentDirectory) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(fs_create_path((dir / "ab/c").c_str()));
    ASSERT_TRUE(fs_create_path((dir / "a/d").c_str()));
    OwnedString root;
    ASSERT_TRUE(fs_absolute_path(dir.path().c_str(), root));
    std::string base = text(root);

    OwnedString saved;
    fs_current_dir(saved);
    ASSERT_TRUE(fs_change_dir((base + "/a").c_str()));
    struct Case {
        std::string path;
        const char* relative;
    } cases[] = {
        {base + "/a/d", "d"},
        {base + "/a", "."},
        {base + "/ab/c", "../ab/c"},  // "a" is a prefix of "ab" but not the same directory
        {base, ".."},
        {"d/../d", "d"},
    };
    for (const Case& c : cases) {
        OwnedString out;
        EXPECT_TRUE(fs_relative_path(c.path.c_str(), out));
        EXPECT_EQ(text(out), c.relative) << c.path;
    }
    OwnedString absolute;
    EXPECT_TRUE(fs_absolute_path("d/..//d", absolute));
    EXPECT_EQ(text(absolute), base + "/a/d");
    EXPECT_FALSE(fs_absolute_path("missing/x", absolute));
    EXPECT_EQ(text(absolute), base + "/a/missing/x");
    EXPECT_TRUE(fs_change_dir(saved.c_str()));
}

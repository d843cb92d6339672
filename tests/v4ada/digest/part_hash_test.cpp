#include "v4ada/digest/part_hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "v4ada/containers/ll.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/hash_input.h"
#include "v4ada/digest/md4.h"
#include "support/temp_dir_test.h"

namespace {

using Digest = std::vector<uint8_t>;

Digest md4Of(const uint8_t* data, size_t n) {
    Md4Context c;
    c.update(data, n);
    Digest d(16);
    c.final(d.data());
    return d;
}

Digest bytesOf(const uint8_t* p) { return Digest(p, p + 16); }

std::string pseudoRandom(size_t n, uint32_t seed) {
    std::string s(n, '\0');
    uint32_t x = seed | 1;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        s[i] = static_cast<char>(x);
    }
    return s;
}

struct Expected {
    Digest fileHash;
    std::vector<Digest> partHashes;  // empty for a file of at most one part
};

// The rule worked out directly: MD4 of each piece, then of their concatenation.
Expected expectedFor(const std::string& data, size_t partSize) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
    Expected e;
    if (data.size() <= partSize) {
        e.fileHash = md4Of(p, data.size());
        return e;
    }
    std::vector<uint8_t> joined;
    for (size_t at = 0; at < data.size(); at += partSize) {
        Digest d = md4Of(p + at, std::min(partSize, data.size() - at));
        e.partHashes.push_back(d);
        joined.insert(joined.end(), d.begin(), d.end());
    }
    e.fileHash = md4Of(joined.data(), joined.size());
    return e;
}

std::vector<Digest> takeList(LL& list) {
    std::vector<Digest> out;
    while (list.count() > 0) {
        Md4Hash* h = static_cast<Md4Hash*>(list.removeAt(0));
        out.push_back(bytesOf(h->bytes()));
        delete h;
    }
    return out;
}

class PartHash : public support::TempDirTest {
protected:
    void check(const std::string& data, unsigned partSizeKiB) {
        SCOPED_TRACE(testing::Message() << "size " << data.size() << ", part " << partSizeKiB << " KiB");
        std::string path = writeFile("f" + std::to_string(data.size()), data);
        Expected e = expectedFor(data, static_cast<size_t>(partSizeKiB) * 1024);
        uint8_t out[16];
        LL list;
        ASSERT_TRUE(hashFileParts(out, path.c_str(), partSizeKiB, &list));
        EXPECT_EQ(bytesOf(out), e.fileHash);
        EXPECT_EQ(takeList(list), e.partHashes);
        unlink(path.c_str());
    }
};

TEST_F(PartHash, PartBoundariesWithSmallParts) {
    std::string data = pseudoRandom(5000, 7);
    for (size_t size : {0u, 1u, 1023u, 1024u, 1025u, 2048u, 2049u, 4096u, 5000u})
        check(data.substr(0, size), 1);
}

TEST_F(PartHash, ProtocolGeometry) {
    const size_t part = kPartSize;
    ASSERT_EQ(part, 20u * kCrumbSize);
    ASSERT_EQ(part, kPartSizeKiB * 1024u);
    std::string data = pseudoRandom(2 * part + 12345, 99);
    for (size_t size : {size_t{0}, size_t{1}, size_t{kCrumbSize}, size_t{kCrumbSize} + 1, part, part + 1,
                        2 * part, 2 * part + 12345})
        check(data.substr(0, size), kPartSizeKiB);
}

// Digests pinned from an independent tool, so that the hashing and the
// MD4 it uses cannot be wrong together: file byte i is i mod 251; part
// digests by `openssl dgst -md4 -binary` (legacy provider) over each
// 9,728,000-byte part, the file hash by the same over the concatenated
// part digests (over the data itself for at most one part).
TEST_F(PartHash, DigestsAgreeWithAnIndependentTool) {
    const struct {
        size_t size;
        const char* fileHash;
        std::vector<const char*> parts;
    } cases[] = {
        {0, "31d6cfe0d16ae931b73c59d7e0c089c0", {}},
        {1, "47c61a0fa8738ba77308a8a600f88e4b", {}},
        {486400, "a93e8804da7f28a869edf5fb08382924", {}},
        {9728000, "91c008dff530be53d16bdf71ee9ba342", {}},
        {9728001,
         "07149b89efa248c03d7e2c5e734d2d88",
         {"91c008dff530be53d16bdf71ee9ba342", "f2afb54a094c0397e996397459e0d7bb"}},
        {2 * 9728000 + 12345,
         "b542e0fa66ef35b9b37125decdc45a41",
         {"91c008dff530be53d16bdf71ee9ba342", "54f7576746e704fd5c2903ddb7e96acb", "9859824a7f7d857366fe765551ad9d1d"}},
    };
    auto hex = [](const Digest& d) {
        static const char digits[] = "0123456789abcdef";
        std::string out;
        for (uint8_t b : d) {
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 15]);
        }
        return out;
    };
    std::string data(2 * 9728000 + 12345, '\0');
    for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i % 251);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        std::string path = writeFile("pinned", data.substr(0, c.size));
        uint8_t out[16];
        LL list;
        ASSERT_TRUE(hashFileParts(out, path.c_str(), kPartSizeKiB, &list));
        EXPECT_EQ(hex(bytesOf(out)), c.fileHash);
        std::vector<std::string> parts;
        for (const Digest& d : takeList(list)) parts.push_back(hex(d));
        EXPECT_EQ(parts, std::vector<std::string>(c.parts.begin(), c.parts.end()));
    }
}

TEST_F(PartHash, EmptyFileIsTheDigestOfNothing) {
    std::string path = writeFile("empty", "");
    uint8_t out[16];
    LL list;
    ASSERT_TRUE(hashFileParts(out, path.c_str(), kPartSizeKiB, &list));
    uint8_t none[16];
    md4String(none, "");
    EXPECT_EQ(bytesOf(out), bytesOf(none));
    EXPECT_EQ(list.count(), 0);
}

TEST_F(PartHash, FailuresLeaveOutputAndListAlone) {
    uint8_t out[16];
    std::memset(out, 0x5A, sizeof out);
    LL list;
    EXPECT_FALSE(hashFileParts(out, pathOf("missing").c_str(), kPartSizeKiB, &list));
    EXPECT_FALSE(hashFileParts(out, nullptr, kPartSizeKiB, &list));
    std::string path = writeFile("some", "some bytes");
    EXPECT_FALSE(hashFileParts(out, path.c_str(), 0, &list));
    EXPECT_FALSE(hashFileParts(out, dir_.path().c_str(), kPartSizeKiB, &list));  // a directory
    for (uint8_t b : out) EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(list.count(), 0);
}

// Sparse files keep these fast: nothing but the metadata reaches the disk.
class LargeFile : public support::TempDirTest {
protected:
    // Makes a sparse file of `size` bytes holding `marker` at `at`; false
    // when the file system cannot.
    bool makeSparse(const std::string& path, uint64_t size, uint64_t at, const std::string& marker) {
        int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        if (fd < 0) return false;
        bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                  pwrite(fd, marker.data(), marker.size(), static_cast<off_t>(at)) ==
                      static_cast<ssize_t>(marker.size());
        close(fd);
        return ok;
    }
};

TEST_F(LargeFile, RangePastTwoGiB) {
    const uint64_t size = 2200ull * 1024 * 1024;
    const uint64_t at = (1ull << 31) + 1000;
    std::string path = pathOf("sparse");
    if (!makeSparse(path, size, at, "marker")) GTEST_SKIP() << "no sparse files here";

    std::unique_ptr<i4_file> file(openHashInput(path.c_str()));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), size);
    std::string expected(kCrumbSize, '\0');
    std::memcpy(expected.data() + 100, "marker", 6);
    uint8_t out[16];
    ASSERT_TRUE(md4FileRange(out, file.get(), at - 100, at - 100 + kCrumbSize));
    EXPECT_EQ(bytesOf(out), md4Of(reinterpret_cast<const uint8_t*>(expected.data()), expected.size()));
    EXPECT_FALSE(md4FileRange(out, file.get(), size - 10, size + 10));
}

TEST_F(LargeFile, FourGiBOrMoreIsRefused) {
    std::string path = pathOf("huge");
    if (!makeSparse(path, 1ull << 32, 0, "x")) GTEST_SKIP() << "no sparse files here";
    uint8_t out[16];
    std::memset(out, 0x5A, sizeof out);
    LL list;
    EXPECT_FALSE(hashFileParts(out, path.c_str(), kPartSizeKiB, &list));
    for (uint8_t b : out) EXPECT_EQ(b, 0x5A);
    EXPECT_EQ(list.count(), 0);
}

}  // namespace

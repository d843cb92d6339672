#include "v4ada/digest/md4.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir_test.h"
#include "v4ada/digest/hash_input.h"

namespace {

std::string hex(const uint8_t* d) {
    std::string s;
    char buf[3];
    for (int i = 0; i < 16; i++) {
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        s += buf;
    }
    return s;
}

std::string md4Of(const std::string& data) {
    Md4Context c;
    c.update(data.data(), data.size());
    uint8_t d[16];
    c.final(d);
    return hex(d);
}

TEST(Md4, Rfc1320TestSuite) {
    const struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& c : cases) {
        uint8_t d[16];
        md4String(d, c.text);
        EXPECT_EQ(hex(d), c.digest) << '"' << c.text << '"';
    }
    uint8_t d[16];
    md4String(d, nullptr);
    EXPECT_EQ(hex(d), "31d6cfe0d16ae931b73c59d7e0c089c0");
}

// Feeding the data in uneven pieces (across block and padding boundaries)
// gives the digest of feeding it at once; final leaves a context that init
// makes usable again.
TEST(Md4, PiecewiseUpdatesMatchOneUpdate) {
    std::string data;
    for (int i = 0; i < 1000; i++) data += static_cast<char>(i * 7 + 3);
    for (size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 1000u}) {
        std::string whole = md4Of(data.substr(0, len));
        Md4Context c;
        size_t at = 0, step = 1;
        while (at < len) {
            size_t n = std::min(step, len - at);
            c.update(data.data() + at, n);
            at += n;
            step = step * 3 + 1;
        }
        uint8_t d[16];
        c.final(d);
        EXPECT_EQ(hex(d), whole) << len;
        c.init();
        c.update(data.data(), len);
        c.final(d);
        EXPECT_EQ(hex(d), whole) << len;
    }
}

class Md4FileRange : public support::TempDirTest {};

TEST_F(Md4FileRange, HashesTheRangeAndRefusesWhatTheFileLacks) {
    std::string data;
    for (int i = 0; i < 200000; i++) data += static_cast<char>((i * 131) >> 3);
    std::string path = writeFile("data", data);
    std::unique_ptr<i4_file> file(openHashInput(path.c_str()));
    ASSERT_TRUE(file);

    uint8_t d[16];
    ASSERT_TRUE(md4FileRange(d, file.get(), 1000, 150000));
    EXPECT_EQ(hex(d), md4Of(data.substr(1000, 149000)));
    ASSERT_TRUE(md4FileRange(d, file.get(), 0, data.size()));
    EXPECT_EQ(hex(d), md4Of(data));
    ASSERT_TRUE(md4FileRange(d, file.get(), 5, 5));
    EXPECT_EQ(hex(d), md4Of(""));

    uint8_t untouched[16];
    std::memset(untouched, 0xAB, 16);
    std::memcpy(d, untouched, 16);
    EXPECT_FALSE(md4FileRange(d, file.get(), 199999, 200001));  // runs past the end
    EXPECT_FALSE(md4FileRange(d, file.get(), 10, 9));            // backwards
    EXPECT_EQ(std::memcmp(d, untouched, 16), 0);

    std::string small = writeFile("small", std::string(100, 'x'));
    std::unique_ptr<i4_file> smallFile(openHashInput(small.c_str()));
    EXPECT_FALSE(md4FileRange(d, smallFile.get(), 0, 486400));
}

// A stream whose reads come in dribs (as sockets or pipes do) still hashes
// the whole range; one whose seek misses fails.
class DribbleFile : public i4_file {
public:
    explicit DribbleFile(std::string data, bool seekWorks = true) : data_(std::move(data)), seekWorks_(seekWorks) {}
    int read(void* buffer, int n) override {
        int k = std::min<int>({n, 7, static_cast<int>(data_.size() - pos_)});
        std::memcpy(buffer, data_.data() + pos_, k);
        pos_ += k;
        return k;
    }
    int write(const void*, int) override { return -1; }
    i4_pos seek(i4_pos p) override {
        if (seekWorks_ && p <= data_.size()) pos_ = p;
        return pos_;
    }
    i4_pos size() override { return data_.size(); }
    i4_pos tell() override { return pos_; }

private:
    std::string data_;
    bool seekWorks_;
    size_t pos_ = 0;
};

TEST(Md4FileRangeStream, PartialReadsAndFailedSeeks) {
    std::string data(5000, 'q');
    data[4321] = 'z';
    DribbleFile f(data);
    uint8_t d[16];
    ASSERT_TRUE(md4FileRange(d, &f, 100, 4500));
    EXPECT_EQ(hex(d), md4Of(data.substr(100, 4400)));

    DribbleFile stuck(data, false);
    EXPECT_FALSE(md4FileRange(d, &stuck, 100, 200));
}

}  // namespace

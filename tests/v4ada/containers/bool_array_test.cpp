#include "v4ada/containers/bool_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_net.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

std::vector<uint8_t> encode(const BoolArray& a) {
    i4_ram_file_class f(nullptr, 0, 64);
    a.write(&f);
    std::vector<uint8_t> out(f.data(), f.data() + f.size());
    i4_free(f.data());
    return out;
}

// Reads an array from the bytes; the error text, or "" when it read.
std::string decode(std::vector<uint8_t> bytes, BoolArray& a) {
    i4_ram_file_class f(bytes.data(), bytes.size(), 0);
    try {
        a.read(&f);
    } catch (const i4_err& e) {
        return e.message();
    }
    return "";
}

std::string text(const BoolArray& a) {
    std::string s(a.count() + 1, '?');
    a.toString(s.data(), a.count());
    s.resize(a.count());
    return s;
}

TEST(BoolArray, BitLayoutAndEncoding) {
    BoolArray a(10);
    a.set(0, true);
    a.set(9, true);
    EXPECT_EQ(encode(a), (std::vector<uint8_t>{0x0A, 0x00, 0x01, 0x02}));
    EXPECT_EQ(a.serializedSize(), 4u);
    EXPECT_EQ(text(a), "1000000001");

    BoolArray sixteen(16);
    EXPECT_EQ(encode(sixteen).size(), 5u);  // one spare byte when the count is a multiple of 8

    BoolArray empty;
    EXPECT_EQ(encode(empty), (std::vector<uint8_t>{0x00, 0x00}));
    EXPECT_EQ(empty.serializedSize(), 3u);
    EXPECT_EQ(empty.bits(), nullptr);

    BoolArray fromBytes("\1\0\0x\0", 5);
    EXPECT_EQ(text(fromBytes), "10010");
}

TEST(BoolArray, RoundTripAndEmptyRead) {
    BoolArray a(37);
    for (unsigned i = 0; i < 37; i += 3) a.set(i, true);
    BoolArray b(5);
    ASSERT_EQ(decode(encode(a), b), "");
    EXPECT_EQ(b.count(), 37u);
    EXPECT_EQ(text(b), text(a));

    ASSERT_EQ(decode({0x00, 0x00}, b), "");
    EXPECT_EQ(b.count(), 0u);
    EXPECT_EQ(b.bits(), nullptr);
}

TEST(BoolArray, CutShortInputFailsAndKeepsTheArray) {
    BoolArray a(3);
    a.set(1, true);
    const std::vector<std::vector<uint8_t>> inputs = {
        {},                  // no count
        {0x0A},              // half a count
        {0x0A, 0x00, 0x01},  // count 10 needs two bytes
        {0xFF, 0xFF, 0x00},  // huge count, almost nothing follows
    };
    for (const auto& in : inputs) {
        EXPECT_NE(decode(in, a), "") << in.size();
        EXPECT_EQ(a.count(), 3u);
        EXPECT_EQ(text(a), "010");
    }
}

// A socket knows no size: the bits arrive in pieces and are read whole.
TEST(BoolArray, ReadsFromAStreamOfUnknownSize) {
    BoolArray a(37);
    for (unsigned i = 0; i < 37; i += 3) a.set(i, true);
    std::vector<uint8_t> bytes = encode(a);
    support::FakeSocket stream;
    stream.queueReads(std::string(bytes.begin(), bytes.end()) + "rest", 2);
    stream.peerClosed = true;
    BoolArray b;
    ASSERT_NO_THROW(b.read(&stream));
    EXPECT_EQ(text(b), text(a));
    std::string left;
    for (const std::string& piece : stream.reads) left += piece;
    EXPECT_EQ(left, "rest");  // nothing past the array taken

    support::FakeSocket cut;
    cut.queueReads(std::string(bytes.begin(), bytes.end() - 1), 3);
    cut.peerClosed = true;
    EXPECT_THROW(b.read(&cut), i4_err);
    EXPECT_EQ(text(b), text(a));
}

TEST(BoolArray, BoundsAndWholeArrayOperations) {
    BoolArray a(12);
    try {
        a.get(12);
        FAIL() << "get past the end";
    } catch (const i4_err& e) {
        EXPECT_STREQ(e.message(), "boolarray out of bounds");
    }
    // The location names the file from the source root, not the build machine.
    const char* file = nullptr;
    int line = 0;
    last_error_location(&file, &line);
    EXPECT_STREQ(file, "v4ada/containers/bool_array.cpp");
    EXPECT_THROW(a.set(12, true), i4_err);
    EXPECT_THROW(BoolArray().get(0), i4_err);

    EXPECT_TRUE(a.allEqual(false));
    a.setAll(true);
    EXPECT_TRUE(a.allEqual(true));
    EXPECT_EQ(a.bits()[1], 0xFF);  // spare bits follow the value
    a.set(11, false);
    EXPECT_FALSE(a.allEqual(true));
    EXPECT_FALSE(a.allEqual(false));
    EXPECT_TRUE(BoolArray().allEqual(true));

    BoolArray copy;
    copy.assign(&a);
    EXPECT_EQ(text(copy), text(a));
    copy.assign(nullptr);
    EXPECT_EQ(copy.count(), 12u);
    EXPECT_TRUE(copy.allEqual(false));

    a.resize(0);
    EXPECT_EQ(a.count(), 0u);
    EXPECT_EQ(a.bits(), nullptr);
    a.resize(9);
    EXPECT_TRUE(a.allEqual(false));

    char shortText[4];
    copy.setAll(true);
    copy.toString(shortText, 3);
    EXPECT_STREQ(shortText, "111");
}

TEST(BoolArray, TooManyBitsToEncodeIsRefused) {
    BoolArray big(65536);
    i4_ram_file_class f(nullptr, 0, 64);
    EXPECT_THROW(big.write(&f), i4_err);
    EXPECT_EQ(f.size(), 0u);
    i4_free(f.data());
}

}  // namespace

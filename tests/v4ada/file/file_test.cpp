#include "v4ada/file/file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "v4ada/error/error.h"
#include "v4ada/file/buffered_file.h"
#include "v4ada/file/printable.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/string/owned_string.h"

namespace {

// A growable memory file that frees its buffer.
struct GrowingFile : i4_ram_file_class {
    explicit GrowingFile(i4_pos step = 64) : i4_ram_file_class(nullptr, 0, step) {}
    ~GrowingFile() override { i4_free(data()); }
    std::string text() { return std::string(reinterpret_cast<char*>(data()), size()); }
};

std::string format(const char* fmt, ...) {
    GrowingFile out;
    va_list args;
    va_start(args, fmt);
    out.vprintf(fmt, args);
    va_end(args);
    return out.text();
}

struct Point : i4_printable {
    void print(i4_file* file) const override { file->printf("(%d,%d)", 1, 2); }
};

TEST(PrintEngine, Conversions) {
    OwnedString owned("own");
    OwnedString nullText(static_cast<const char*>(nullptr));
    Point point;
    const i4_printable* noObject = nullptr;
    struct {
        std::string got;
        const char* expected;
    } cases[] = {
        {format("a%%b"), "a%b"},
        {format("%c%c", 'o', 'k'), "ok"},
        {format("%d %i", -17, 0), "-17 0"},
        {format("%d", -2147483647 - 1), "-2147483648"},
        {format("%u", 4294967295u), "4294967295"},
        {format("%o", 8), "10"},
        {format("%x", 0xBEEF), "beef"},
        {format("[%5d]", 42), "[42]"},  // width does not pad
        {format("[%s][%s]", "x", static_cast<const char*>(nullptr)), "[x][]"},
        {format("[%S][%S]", &owned, &nullText), "[own][]"},
        {format("%I %I", &point, noObject), "(1,2) NULL"},
        {format("%.2f|%f", 1.5, 0.25), "1.50|0.250000"},
        {format("%ld", 5), "d"},  // 'l' ends the conversion and takes nothing
        {format("%D %U %X", int64_t(-5000000000), uint64_t(18446744073709551615u), uint64_t(0x1234567890)),
         "-5000000000 18446744073709551615 1234567890"},
        {format("tail %"), "tail "},
        {format("%*.*f", 2.0), "2.000000"},  // '*' never reaches the C formatter
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.got);
}

TEST(PrintEngine, ReturnsBytesWritten) {
    GrowingFile out;
    out.printf("ab");
    EXPECT_EQ(5, out.printf("%d", 12345));
}

TEST(TypedStreams, LittleEndianRoundTrip) {
    GrowingFile file;
    file.write_8(0xAB);
    file.write_16(0x1234);
    file.write_32(0xDEADBEEF);
    file.write_64(0x0102030405060708ull);
    file.write_float(1.25f);
    ASSERT_EQ(19u, file.size());
    const uint8_t expected[] = {0xAB, 0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 8, 7, 6, 5, 4, 3, 2, 1};
    EXPECT_EQ(0, memcmp(file.data(), expected, sizeof expected));
    file.seek(0);
    EXPECT_EQ(0xAB, file.read_8());
    EXPECT_EQ(0x1234, file.read_16());
    EXPECT_EQ(0xDEADBEEFu, file.read_32());
    EXPECT_EQ(0x0102030405060708ull, file.read_64());
    EXPECT_EQ(1.25f, file.read_float());
    EXPECT_TRUE(file.atEnd());
}

TEST(TypedStreams, ShortReadsReportTheirReader) {
    uint8_t one[] = {0x34};
    struct {
        void (*read)(i4_file*);
        const char* message;
    } cases[] = {
        {[](i4_file* f) { f->read_16(); }, "read_16 error"},
        {[](i4_file* f) { f->read_32(); }, "read_32 error"},
        {[](i4_file* f) { f->read_64(); }, "readAll error"},
        {[](i4_file* f) {
             char b[4];
             f->readAll(b, 4);
         },
         "readAll error"},
    };
    for (const auto& c : cases) {
        i4_ram_file_class file(one, 1, 0);
        try {
            c.read(&file);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const i4_err& e) {
            EXPECT_STREQ(c.message, e.message());
        }
    }
    i4_ram_file_class empty(one, 0, 0);
    EXPECT_THROW(empty.read_8(), i4_err);
}

TEST(RamFile, GrowableGrowsInWholeSteps) {
    GrowingFile file(512);
    std::vector<uint8_t> data(1000, 7);
    EXPECT_EQ(1000, file.write(data.data(), 1000));
    EXPECT_EQ(1024u, file.capacity());
    EXPECT_EQ(1000u, file.size());
    EXPECT_EQ(1000u, file.tell());
    EXPECT_EQ(3000u, file.seek(3000));
    EXPECT_EQ(3072u, file.capacity());
    EXPECT_EQ(3000u, file.size());
    // The gap a seek leaves is zeroed, never stale heap bytes.
    EXPECT_EQ(0, file.data()[2000]);
}

TEST(RamFile, FixedFileCutsAndClamps) {
    uint8_t buffer[10];
    i4_ram_file_class file(buffer, sizeof buffer, 0);
    const char* text = "0123456789ABCDE";
    EXPECT_EQ(10, file.write(text, 15));
    EXPECT_EQ(0, file.write(text, 1));
    EXPECT_EQ(10u, file.seek(50));
    EXPECT_FALSE(file.fill('x', 5));
    file.seek(4);
    char out[10];
    EXPECT_EQ(6, file.read(out, 10));
    EXPECT_EQ(0, memcmp(out, "456789", 6));
}

TEST(RamFile, CloneSharesBufferAtPosition) {
    uint8_t buffer[4] = {1, 2, 3, 4};
    i4_ram_file_class file(buffer, 4, 0);
    file.seek(2);
    i4_ram_file_class* clone = file.clone();
    EXPECT_EQ(3, clone->read_8());
    EXPECT_EQ(3, file.read_8());
    delete clone;
    file.setBuffer(buffer + 1, 3, 0);
    EXPECT_EQ(0u, file.tell());
    EXPECT_EQ(3u, file.size());
}

TEST(RamFile, FillWritesInChunks) {
    GrowingFile file(100);
    EXPECT_TRUE(file.fill(0x5A, 3000));
    EXPECT_EQ(3000u, file.size());
    EXPECT_EQ(0x5A, file.data()[2999]);
}

TEST(BufferedFile, RandomReadsAndWritesMatchThePlainFile) {
    // The same random sequence of operations on a plain memory file and on
    // a small buffer window over another must leave identical bytes.
    std::mt19937 random(7);
    GrowingFile reference(256);
    auto inner = new GrowingFile(256);
    {
        i4_buffered_file_class buffered(inner, 16, 0);
        std::vector<uint8_t> zeros(400, 0);
        reference.write(zeros.data(), 400);
        buffered.write(zeros.data(), 400);
        for (int step = 0; step < 2000; step++) {
            i4_pos at = random() % 380;
            int n = 1 + static_cast<int>(random() % 20);
            reference.seek(at);
            buffered.seek(at);
            if (random() % 2) {
                std::vector<uint8_t> data(n);
                for (auto& b : data) b = static_cast<uint8_t>(random());
                ASSERT_EQ(n, reference.write(data.data(), n));
                ASSERT_EQ(n, buffered.write(data.data(), n));
            } else {
                std::vector<uint8_t> a(n), b(n);
                ASSERT_EQ(reference.read(a.data(), n), buffered.read(b.data(), n));
                ASSERT_EQ(a, b) << "step " << step;
            }
        }
        buffered.flush();
        ASSERT_EQ(reference.size(), inner->size());
        EXPECT_EQ(0, memcmp(reference.data(), inner->data(), reference.size()));
    }
}

}  // namespace

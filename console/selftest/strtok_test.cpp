#include "console/selftest/strtok_test.h"

#include <cstring>

#include "console/selftest/test_output.h"
#include "v4ada/string/cstring.h"

namespace {

constexpr const char* kDelimiters = " ,_-.(){}[]!?<>\t\n";
constexpr int kBufferSize = 256;

// Takes the tokens of text from index 0 in a 256-byte buffer; true when
// they are the expected ones (a null-ended list) and the call after the
// last one returns 0.
bool tokensAre(const char* text, const char* const* expected, int start = 0) {
    char buffer[kBufferSize];
    int index = start;
    for (; *expected; ++expected) {
        index = i4_strtok(text, kDelimiters, index, buffer, kBufferSize);
        if (index == 0 || strcmp(buffer, *expected) != 0) return false;
    }
    return i4_strtok(text, kDelimiters, index, buffer, kBufferSize) == 0;
}

}  // namespace

bool StrtokTest::run() {
    test_print(" i4_strtok test:");
    const char* const plain[] = {"Hello", "OUT", "THere", nullptr};
    if (!tokensAre("Hello OUT THere", plain)) return false;

    const char* const bracketed[] = {"Hello", "test", nullptr};
    if (!tokensAre(".)Hello(test]]]]", bracketed)) return false;

    const char* longText = "longstringofrandomwordsoverflowthebuffer";
    const char* const whole[] = {longText, nullptr};
    if (!tokensAre(longText, whole)) return false;

    // A token longer than the buffer comes in pieces.
    char small[5];
    int index = i4_strtok(longText, kDelimiters, 0, small, sizeof small);
    if (index <= 0 || strcmp(small, "long") != 0) return false;
    const char* const rest[] = {"stringofrandomwordsoverflowthebuffer", nullptr};
    if (!tokensAre(longText, rest, index)) return false;

    const char* const none[] = {nullptr};
    return tokensAre(".!!{} ____", none);
}

#include "console/selftest/stristr_test.h"

#include "console/selftest/test_output.h"
#include "v4ada/string/cstring.h"

bool StristrTest::run() {
    test_print(" stristr test:");
    const char* text = "Hello OUT THere";
    struct Check {
        const char* needle;
        bool found;
        const char* failure;
    };
    const Check checks[] = {
        {"Hello", true, "Test 1 failed"},
        {"dog", false, "Test 2 failed"},
        {"out", true, "Test 3 failed"},
        {"thERe", true, "Test 4 failed"},
    };
    for (const Check& check : checks) {
        if ((stristr(text, check.needle) != nullptr) != check.found) {
            test_print("%s", check.failure);
            return false;
        }
    }
    return true;
}

#include "console/selftest/test_master.h"

#include "console/selftest/hash32_test.h"
#include "console/selftest/iter_test.h"
#include "console/selftest/ll_test.h"
#include "console/selftest/stristr_test.h"
#include "console/selftest/strtok_test.h"
#include "console/selftest/test.h"
#include "console/selftest/test_bool_array.h"
#include "console/selftest/test_meta.h"
#include "console/selftest/test_output.h"
#include "console/selftest/unique_id_test.h"
#include "v4ada/error/error.h"

TestMaster::~TestMaster() {
    LLNode* cursor = nullptr;
    while (void* test = LL::walk(&tests, &cursor)) delete static_cast<Test*>(test);
    tests.clear();
}

void TestMaster::add(Test* test) {
    if (test) tests.append(test);
}

void TestMaster::addStandardTests() {
    add(new Hash32Test);
    add(new StrtokTest);
    add(new StristrTest);
    add(new TestMeta);
    add(new TestBoolArray);
    add(new LLTest);
    add(new IterTest);
    add(new UniqueIDTest);
}

namespace {

// A test that raises an error has failed; the error is shown as its reason.
bool passes(Test* test) {
    try {
        return test->run();
    } catch (const i4_err& error) {
        test_print("%s", error.message());
        return false;
    }
}

}  // namespace

void TestMaster::run() {
    LLNode* cursor = nullptr;
    while (void* test = LL::walk(&tests, &cursor)) {
        if (!passes(static_cast<Test*>(test))) {
            test_print("ERRORS ::::--- FIX NOW");
            return;
        }
    }
    test_print("go.");
}

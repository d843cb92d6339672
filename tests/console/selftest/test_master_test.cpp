#include "console/selftest/test_master.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ui_capture.h"
#include "console/selftest/test.h"
#include "console/selftest/test_output.h"
#include "v4ada/error/error.h"

namespace {

enum class Outcome { Pass, Fail, Raise };

// Prints its name, answers its outcome and records its runs and deletion.
class FakeTest : public Test {
public:
    FakeTest(const char* name, Outcome outcome, std::string* log) : name_(name), outcome_(outcome), log_(log) {}
    ~FakeTest() override { *log_ += std::string("~") + name_ + " "; }

    bool run() override {
        *log_ += std::string("run ") + name_ + " ";
        test_print("%s", name_);
        if (outcome_ == Outcome::Raise) error_at(nullptr, 0)("%s broke", name_);
        return outcome_ == Outcome::Pass;
    }

private:
    const char* name_;
    Outcome outcome_;
    std::string* log_;
};

TEST(TestMaster, RunsInOrderAndStopsAtTheFirstFailure) {
    struct Case {
        Outcome second;
        const char* output;
        const char* log;
    };
    const Case cases[] = {
        {Outcome::Pass, "one\ntwo\nthree\ngo.\n", "run one run two run three ~one ~two ~three "},
        {Outcome::Fail, "one\ntwo\nERRORS ::::--- FIX NOW\n", "run one run two ~one ~two ~three "},
        {Outcome::Raise, "one\ntwo\ntwo broke\nERRORS ::::--- FIX NOW\n", "run one run two ~one ~two ~three "},
    };
    for (const Case& c : cases) {
        support::CaptureUI ui;
        std::string log;
        {
            TestMaster master;
            master.add(new FakeTest("one", Outcome::Pass, &log));
            master.add(nullptr);
            master.add(new FakeTest("two", c.second, &log));
            master.add(new FakeTest("three", Outcome::Pass, &log));
            master.run();
        }
        EXPECT_EQ(ui.text(), c.output);
        // The master deletes every test, run or not, through the base.
        EXPECT_EQ(log, c.log);
    }
}

TEST(TestMaster, WithoutTestsSaysGo) {
    support::CaptureUI ui;
    TestMaster master;
    master.run();
    EXPECT_EQ(ui.text(), "go.\n");
}

}  // namespace

#include "v4ada/error/error.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/debug_capture.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

using support::DebugCapture;

TEST(ErrorReporting, ThrowsWithMessageAndRecordsLocation) {
    try {
        error_at("some/module.cpp", 42)("bad %d of %s", 7, "things");
        FAIL() << "no throw";
    } catch (const i4_err& e) {
        EXPECT_STREQ("bad 7 of things", e.message());
    }
    const char* file;
    int line;
    last_error_location(&file, &line);
    EXPECT_STREQ("some/module.cpp", file);
    EXPECT_EQ(42, line);

    // A report without a location keeps the previous one.
    EXPECT_THROW(error_at(nullptr, 99)("again"), i4_err);
    last_error_location(&file, &line);
    EXPECT_STREQ("some/module.cpp", file);
    EXPECT_EQ(42, line);
}

TEST(ErrorReporting, LocationIsPerThreadAndEmptyBeforeAnyReport) {
    const char* file = "x";
    int line = -1;
    std::thread([&] { last_error_location(&file, &line); }).join();
    EXPECT_EQ(nullptr, file);
    EXPECT_EQ(0, line);
}

TEST(ErrorReporting, LongMessagesAreCutTo499Characters) {
    std::string big(800, 'a');
    try {
        error_at(__FILE__, __LINE__)("%s", big.c_str());
        FAIL();
    } catch (const i4_err& e) {
        EXPECT_EQ(499u, std::string(e.message()).size());
    }
}

namespace {
std::string g_seen;
void recordingHandler(const char* message) { g_seen = message; }
}  // namespace

TEST(ErrorReporting, ReplacedHandlerThatReturnsStillDoesNotResumeTheSite) {
    set_error_handler(recordingHandler);
    EXPECT_THROW(error_at(__FILE__, __LINE__)("handled %d", 1), i4_err);
    set_error_handler(nullptr);
    EXPECT_EQ("handled 1", g_seen);
    EXPECT_THROW(error_at(__FILE__, __LINE__)("default again"), i4_err);
}

TEST(Warnings, PrintWithOrWithoutLocation) {
    DebugCapture capture;
    std::thread([] { warning_at(nullptr, 0)("no place %d", 1); }).join();
    std::thread([] { warning_at("w.cpp", 5)("placed"); }).join();
    EXPECT_EQ("Warning no place 1\nWarning (w.cpp:5) : placed\n", capture.text());
}

TEST(Warnings, GoToTheInstalledHandlerUntilNullPutsTheDefaultBack) {
    static std::string seen;
    auto keep = [](const char* message) { seen = message; };
    DebugCapture capture;
    EXPECT_EQ(get_warning_handler(), &default_warning_handler);
    set_warning_handler(keep);
    EXPECT_EQ(get_warning_handler(), +keep);
    warning_at("w.cpp", 6)("kept %d", 2);
    EXPECT_EQ(seen, "kept 2");
    set_warning_handler(nullptr);
    EXPECT_EQ(get_warning_handler(), &default_warning_handler);
    warning_at(nullptr, 0)("printed");
    EXPECT_EQ(capture.text(), "Warning (w.cpp:6) : printed\n");
}

TEST(ConsolePrint, HookReceivesFormattedText) {
    static std::string got;
    set_console_print_hook([](const OwnedString& text) { got = text.c_str(); });
    console_printf("%d-%s", 3, "x");
    set_console_print_hook(nullptr);
    EXPECT_EQ("3-x", got);

    DebugCapture capture;
    console_printf("to debug %S", nullptr);
    EXPECT_EQ("to debug ", capture.text());
}

TEST(DebugOutput, NullOutputPrintsNothing) {
    support::StderrCapture stderrText;
    debug_printf("shown %d\n", 1);  // the default output: standard error
    i4_file* previous = debug_output();
    set_debug_output(nullptr);
    debug_printf("dropped %d\n", 2);
    set_debug_output(previous);
    EXPECT_EQ(stderrText.text(), "shown 1\n");
}

}  // namespace

#include "v4ada/init/init_class.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

// Only names starting with '#' are ours: other modules linked into the test
// program may have registered objects of their own.
class Recorder : public i4_init_class {
public:
    Recorder(Log* log, const char* name, int priority) : log_(log), name_(name), priority_(priority) {}
    int initType() override { return priority_; }
    void init() override {
        log_->push_back(std::string("init ") + name_ + (all_classes_initialised() ? "+" : "-"));
    }
    void uninit() override { log_->push_back(std::string("uninit ") + name_); }

private:
    Log* log_;
    const char* name_;
    int priority_;
};

class ThreadRecorder : public i4_thread_init_class {
public:
    ThreadRecorder(Log* log, const char* name) : log_(log), name_(name) {}
    void init() override { log_->push_back(std::string("init ") + name_); }
    void uninit() override { log_->push_back(std::string("uninit ") + name_); }
    void threadInit() override { log_->push_back(std::string("threadInit ") + name_); }
    void threadUninit() override { log_->push_back(std::string("threadUninit ") + name_); }

private:
    Log* log_;
    const char* name_;
};

TEST(InitClassTest, RunsByPriorityNewestFirstAndSkipsOutOfRange) {
    Log log;
    Recorder five(&log, "#five", 5);
    Recorder twoOld(&log, "#twoOld", 2);
    Recorder twoNew(&log, "#twoNew", 2);
    Recorder zero(&log, "#zero", 0);
    Recorder ten(&log, "#ten", 10);
    Recorder negative(&log, "#negative", -1);
    ThreadRecorder perThread(&log, "#thread");
    {
        Recorder gone(&log, "#gone", 3);  // unregistered again before the run
    }

    EXPECT_FALSE(all_classes_initialised());
    init_all_classes();
    EXPECT_TRUE(all_classes_initialised());
    uninit_all_classes();
    EXPECT_FALSE(all_classes_initialised());

    Log ours;
    for (const auto& line : log)
        if (line.find('#') != std::string::npos) ours.push_back(line);
    const Log expected = {
        // The flag is set once priority 0 is done.
        "init #zero-", "init #thread", "init #twoNew+", "init #twoOld+", "init #five+",
        "threadInit #thread",
        "threadUninit #thread",
        "uninit #five", "uninit #twoNew", "uninit #twoOld", "uninit #thread", "uninit #zero",
    };
    EXPECT_EQ(ours, expected);
}

TEST(InitClassTest, DestroyedObjectsLeaveBothLists) {
    Log log;
    Recorder keep(&log, "#keep", 4);
    {
        ThreadRecorder temporary(&log, "#temporary");
        Recorder middle(&log, "#middle", 4);
    }
    init_all_classes();
    uninit_all_classes();
    Log ours;
    for (const auto& line : log)
        if (line.find('#') != std::string::npos) ours.push_back(line);
    EXPECT_EQ(ours, (Log{"init #keep+", "uninit #keep"}));
}

}  // namespace

// TestMaster: the self tests in run order. It owns its tests and runs them
// until the first failure.
#pragma once

#include "v4ada/containers/ll.h"

class Test;

class TestMaster {
public:
    TestMaster() = default;
    TestMaster(const TestMaster&) = delete;
    TestMaster& operator=(const TestMaster&) = delete;
    // Deletes every test.
    virtual ~TestMaster();

    // Appends a test; the master takes it over. Null is ignored.
    void add(Test* test);
    // The base-library tests, in their fixed order.
    void addStandardTests();
    // Runs the tests in order. The first failing one (a test that raises an
    // error fails with its message) ends the run with the line
    // "ERRORS ::::--- FIX NOW"; when all pass, "go." is printed.
    void run();

private:
    LL tests;  // of Test*, owned
};

// Test: one built-in self test of the base library or of the client. run
// prints the test's header line (and why it failed, if it did) through the
// current output gateway and answers true for a pass.
#pragma once

class Test {
public:
    Test() = default;
    Test(const Test&) = delete;
    Test& operator=(const Test&) = delete;
    // The master deletes its tests through this base.
    virtual ~Test() = default;

    virtual bool run() = 0;
};

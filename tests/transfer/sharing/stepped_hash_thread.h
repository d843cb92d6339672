// A hashing thread that never starts a body: the test drives it with
// step() on its own thread and counts the starts asked for.
#pragma once

#include "transfer/sharing/hash_thread.h"

class SteppedHashThread : public HashThread {
public:
    using HashThread::HashThread;
    ~SteppedHashThread() override = default;
    bool start() override {
        starts++;
        return true;
    }
    int starts = 0;
};

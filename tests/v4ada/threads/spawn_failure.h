// Makes every thread creation fail while it lives: the default stack is far
// larger than any address space.
#pragma once

#include <pthread.h>

#include <cstdint>

class HugeDefaultStack {
public:
    HugeDefaultStack() {
        pthread_getattr_default_np(&saved_);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, SIZE_MAX / 4);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~HugeDefaultStack() {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }
    HugeDefaultStack(const HugeDefaultStack&) = delete;
    HugeDefaultStack& operator=(const HugeDefaultStack&) = delete;

private:
    pthread_attr_t saved_;
};

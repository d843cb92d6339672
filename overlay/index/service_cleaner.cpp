#include "overlay/index/service_cleaner.h"

#include "overlay/index/service_directory.h"

bool ServiceCleaner::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    if (elapsed_ > kServiceCleanEveryMs) {
        elapsed_ = 0;
        directory_.expire(kServiceMaxAgeSeconds);
    }
    return false;
}

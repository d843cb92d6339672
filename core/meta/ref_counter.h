// RefCounter: base of objects shared between holders and threads
// (downloads, partial files, uploads, searches). Holders call addRef when
// they keep a pointer and release when they drop it; nobody deletes such
// an object directly. The count is atomic, so holders on different
// threads need no lock of their own around addRef and release.
#pragma once

#include <atomic>
#include <cstdint>

class RefCounter {
public:
    RefCounter() = default;
    virtual ~RefCounter() = default;
    RefCounter(const RefCounter&) = delete;
    RefCounter& operator=(const RefCounter&) = delete;

    RefCounter* addRef() {
        count_.fetch_add(1, std::memory_order_relaxed);
        return this;
    }
    // Drops one reference; deletes the object and returns true when none
    // is left.
    bool release() {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) - 1 > 0) return false;
        delete this;
        return true;
    }
    int32_t refCount() const { return count_.load(std::memory_order_relaxed); }

private:
    std::atomic<int32_t> count_{0};
};

// LLsafe: an LL shared between threads. Each of the forms declared here
// holds the list's mutex for the whole operation.
//
// Rules for callers:
// - To walk the list (LL::walk or ListIterator) or to do several operations
//   as one step, hold lock() ... unlock() and use the unlocked forms inside,
//   called qualified: list->LL::count(), list->LL::at(i), list->LL::remove(e),
//   list->LL::removeAt(i), list->LL::append(e), list->LL::prepend(e),
//   list->LL::clear(), list->LL::sort(f), plus contains, removeAfter,
//   insertAfter, first and ListIterator, which never lock.
// - Never call a locked form (an unqualified call of the operations below,
//   or addUnique, shuffle, setAt past the end or insertAt past the end,
//   which reach the locked append or clear) while holding lock(): the mutex
//   is not recursive. Doing so is reported on standard error and aborts the
//   process instead of hanging.
// - addUnique, insertAt, removeAfter, contains and shuffle take no lock of
//   their own; call them under lock() where they do not reach a locked form,
//   or on a list no other thread touches at the time.
// - appendAll and removeAll lock only this list while they walk the other
//   one; the other list must not change meanwhile.
#pragma once

#include <atomic>
#include <pthread.h>

#include "v4ada/containers/ll.h"
#include "v4ada/threads/linux/sys_mutex.h"

class TS_CAPABILITY("list") LLsafe : public LL {
public:
    LLsafe() = default;
    ~LLsafe() override = default;

    LLNode* append(void* element) override;
    LLNode* prepend(void* element) override;
    // Past the end, the mutex is released before the locked append.
    void setAt(int index, void* element) override;
    bool remove(void* element) override;
    void* removeAt(int index) override;
    void clear() override;
    int count() override;
    void* at(int index) override;
    // A list appended to itself gets one copy of what it held at the call.
    void appendAll(LL* other) override;
    // A list removed from itself becomes empty.
    void removeAll(LL* other) override;
    void sort(LLSortFuntor* functor) override;
    void sortBy(LLSortFunction function) override;

    void lock() TS_ACQUIRE();
    void unlock() TS_RELEASE();

private:
    // Aborts with a message when the calling thread already holds the lock.
    void checkNotHeld(const char* operation);
    void lockFor(const char* operation) TS_ACQUIRE();

    class Hold;

    SysMutex mutex_;
    // The holder's thread while the mutex is held (0 otherwise); only read
    // to tell whether the calling thread is the holder.
    std::atomic<pthread_t> owner_{0};
};

// Holds an LLsafe's lock for a scope (a walk or several unlocked steps).
class TS_SCOPED_CAPABILITY LLsafeGuard {
public:
    explicit LLsafeGuard(LLsafe* list) TS_ACQUIRE(list) : list_(list) { list_->lock(); }
    ~LLsafeGuard() TS_RELEASE() { list_->unlock(); }
    LLsafeGuard(const LLsafeGuard&) = delete;
    LLsafeGuard& operator=(const LLsafeGuard&) = delete;

private:
    LLsafe* list_;
};

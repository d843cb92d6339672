#include "v4ada/containers/ll_safe.h"

#include <cstdio>
#include <cstdlib>

class TS_SCOPED_CAPABILITY LLsafe::Hold {
public:
    Hold(LLsafe* list, const char* operation) TS_ACQUIRE(list) : list_(list) { list_->lockFor(operation); }
    ~Hold() TS_RELEASE() { list_->unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    LLsafe* list_;
};

void LLsafe::checkNotHeld(const char* operation) {
    // Only this thread ever stores its own id, so a relaxed load is exact
    // for the question "do I hold it".
    pthread_t owner = owner_.load(std::memory_order_relaxed);
    if (owner != 0 && pthread_equal(owner, pthread_self())) {
        fprintf(stderr, "LLsafe::%s called while this thread holds the list lock\n", operation);
        abort();
    }
}

// The list's capability stands for mutex_ (the analysis sees the list).
void LLsafe::lockFor(const char* operation) TS_NO_ANALYSIS {
    checkNotHeld(operation);
    mutex_.lock();
    owner_.store(pthread_self(), std::memory_order_relaxed);
}

void LLsafe::lock() TS_NO_ANALYSIS {
    lockFor("lock");
}

void LLsafe::unlock() TS_NO_ANALYSIS {
    owner_.store(0, std::memory_order_relaxed);
    mutex_.unlock();
}

LLNode* LLsafe::append(void* element) {
    Hold hold(this, "append");
    return LL::append(element);
}

LLNode* LLsafe::prepend(void* element) {
    Hold hold(this, "prepend");
    return LL::prepend(element);
}

void LLsafe::setAt(int index, void* element) {
    {
        Hold hold(this, "setAt");
        LLNode* node = nodeAt(index);
        if (node != nullptr) {
            if (element != nullptr) node->element = element;
            return;
        }
    }
    append(element);
}

bool LLsafe::remove(void* element) {
    Hold hold(this, "remove");
    return LL::remove(element);
}

void* LLsafe::removeAt(int index) {
    Hold hold(this, "removeAt");
    return LL::removeAt(index);
}

void LLsafe::clear() {
    Hold hold(this, "clear");
    LL::clear();
}

int LLsafe::count() {
    Hold hold(this, "count");
    return LL::count();
}

void* LLsafe::at(int index) {
    Hold hold(this, "at");
    return LL::at(index);
}

void LLsafe::appendAll(LL* other) {
    if (other == nullptr) return;
    Hold hold(this, "appendAll");
    // The other list is walked unlocked (only this one is held); counted
    // first so that a list appended to itself ends.
    int n = other->LL::count();
    LLNode* cursor = nullptr;
    for (void* element; n > 0 && (element = walk(other, &cursor)) != nullptr; --n) {
        LL::append(element);
    }
}

void LLsafe::removeAll(LL* other) {
    if (other == nullptr) return;
    Hold hold(this, "removeAll");
    if (other == this) {
        LL::clear();
        return;
    }
    LLNode* cursor = nullptr;
    while (void* element = walk(other, &cursor)) LL::remove(element);
}

void LLsafe::sort(LLSortFuntor* functor) {
    Hold hold(this, "sort");
    LL::sort(functor);
}

void LLsafe::sortBy(LLSortFunction function) {
    Hold hold(this, "sortBy");
    LL::sortBy(function);
}

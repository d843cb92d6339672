// ListIterator: walks an LL and inserts or removes at its position.
//
// The element that next() will return is fetched one step ahead, so the
// last returned element can be removed while walking. The iterator takes no
// lock: walk an LLsafe between its lock() and unlock().
#pragma once

#include "v4ada/containers/ll.h"

class ListIterator {
public:
    explicit ListIterator(LL* list);

    // Back to the start: the first element is fetched again.
    void reset();
    bool hasMore() const { return fetched_ != nullptr; }
    // Returns the fetched element and fetches the following one; null at the
    // end, where it stays (the walk does not start over).
    void* next();
    // next() up to n times while elements remain.
    void skip(int n);
    // Inserts before the last returned element (at the head before the
    // first next()); the new element counts as the last returned one. A null
    // element is ignored.
    void insertBefore(void* element);
    // Inserts after the last returned element; the walk does not visit it.
    // A null element is ignored.
    void insertAfter(void* element);
    // Removes the last returned element; true when one was removed. A second
    // call for the same next(), or a call before the first next(), removes
    // nothing.
    bool removeCurrent();

private:
    LLNode* cursor_ = nullptr;  // node of the fetched element
    LLNode* last_ = nullptr;    // node of the last returned element
    LLNode* before_ = nullptr;  // the node before last_ (null: the sentinel)
    LLNode* prev_ = nullptr;    // the node before cursor_ (null: the sentinel)
    void* fetched_ = nullptr;   // what next() returns, null at the end
    bool lastRemoved_ = false;  // last_ no longer holds the returned element
    LL* list_;
};

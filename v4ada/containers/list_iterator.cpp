#include "v4ada/containers/list_iterator.h"

// before_ is kept as the node in front of last_ and prev_ as the node in
// front of cursor_, through every insertion and removal made here, so that
// removeCurrent always unlinks the element next() returned last.

ListIterator::ListIterator(LL* list) : list_(list) {
    reset();
}

void ListIterator::reset() {
    cursor_ = nullptr;
    last_ = nullptr;
    before_ = nullptr;
    prev_ = nullptr;
    lastRemoved_ = false;
    fetched_ = LL::walk(list_, &cursor_);
}

void* ListIterator::next() {
    if (fetched_ == nullptr) return nullptr;
    before_ = prev_;
    last_ = cursor_;
    prev_ = cursor_;
    lastRemoved_ = false;
    void* element = fetched_;
    fetched_ = LL::walk(list_, &cursor_);
    return element;
}

void ListIterator::skip(int n) {
    for (; n > 0 && hasMore(); --n) next();
}

void ListIterator::insertBefore(void* element) {
    LLNode* added = list_->insertAfter(before_, element);
    if (added == nullptr) return;
    if (prev_ == before_) prev_ = added;
    last_ = added;
    lastRemoved_ = false;
}

void ListIterator::insertAfter(void* element) {
    LLNode* added = list_->insertAfter(last_, element);
    if (added != nullptr && prev_ == last_) prev_ = added;
}

bool ListIterator::removeCurrent() {
    // Without a live last element, removeAfter(before) would take the
    // fetched element's node (or whatever follows) instead.
    if (last_ == nullptr || lastRemoved_) return false;
    list_->removeAfter(before_);
    if (prev_ == last_) prev_ = before_;
    last_ = before_;
    lastRemoved_ = true;
    return true;
}

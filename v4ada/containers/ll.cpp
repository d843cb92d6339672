#include "v4ada/containers/ll.h"

#include "v4ada/time/random.h"

LL::LL() {
    sentinel.element = nullptr;
    sentinel.next = &sentinel;
    tail = &sentinel;
}

LL::~LL() {
    LLNode* node = sentinel.next;
    while (node != &sentinel) {
        LLNode* next = node->next;
        delete node;
        node = next;
    }
}

LLNode* LL::insertAfter(LLNode* node, void* element) {
    if (element == nullptr) return nullptr;
    if (node == nullptr) node = &sentinel;
    LLNode* added = new LLNode;
    added->element = element;
    added->next = node->next;
    node->next = added;
    if (node == tail) tail = added;
    return added;
}

void* LL::unlinkAfter(LLNode* prev) {
    LLNode* gone = prev->next;
    prev->next = gone->next;
    if (gone == tail) tail = prev;
    void* element = gone->element;
    delete gone;
    return element;
}

LLNode* LL::nodeAt(int index) {
    if (index < 0) return nullptr;
    LLNode* node = sentinel.next;
    while (node != &sentinel && index > 0) {
        node = node->next;
        --index;
    }
    return node == &sentinel ? nullptr : node;
}

LLNode* LL::append(void* element) {
    return insertAfter(tail, element);
}

LLNode* LL::prepend(void* element) {
    return insertAfter(&sentinel, element);
}

bool LL::addUnique(void* element) {
    if (contains(element)) return false;
    append(element);
    return true;
}

void LL::setAt(int index, void* element) {
    LLNode* node = nodeAt(index);
    if (node == nullptr) {
        append(element);
    } else if (element != nullptr) {
        node->element = element;
    }
}

LLNode* LL::insertAt(int index, void* element) {
    if (element == nullptr) return nullptr;
    if (index == 0) return insertAfter(&sentinel, element);
    LLNode* before = nodeAt(index - 1);
    if (before == nullptr) return append(element);
    return insertAfter(before, element);
}

bool LL::remove(void* element) {
    if (element == nullptr) return false;
    for (LLNode* prev = &sentinel; prev->next != &sentinel; prev = prev->next) {
        if (prev->next->element == element) {
            unlinkAfter(prev);
            return true;
        }
    }
    return false;
}

void* LL::removeAt(int index) {
    if (index < 0) return nullptr;
    LLNode* prev = index == 0 ? &sentinel : nodeAt(index - 1);
    if (prev == nullptr || prev->next == &sentinel) return nullptr;
    return unlinkAfter(prev);
}

void LL::clear() {
    LLNode* node = sentinel.next;
    while (node != &sentinel) {
        LLNode* next = node->next;
        delete node;
        node = next;
    }
    sentinel.next = &sentinel;
    tail = &sentinel;
}

int LL::count() {
    int n = 0;
    for (LLNode* node = sentinel.next; node != &sentinel; node = node->next) ++n;
    return n;
}

void* LL::at(int index) {
    LLNode* node = nodeAt(index);
    return node ? node->element : nullptr;
}

LLNode* LL::removeAfter(LLNode* node) {
    if (node == nullptr) node = &sentinel;
    if (node->next == &sentinel) return nullptr;
    unlinkAfter(node);
    return node;
}

bool LL::contains(void* element) {
    if (element == nullptr) return false;
    for (LLNode* node = sentinel.next; node != &sentinel; node = node->next) {
        if (node->element == element) return true;
    }
    return false;
}

void LL::appendAll(LL* other) {
    if (other == nullptr) return;
    // Counted first, so that appending a list to itself ends.
    int n = other->LL::count();
    LLNode* cursor = nullptr;
    for (void* element; n > 0 && (element = walk(other, &cursor)) != nullptr; --n) {
        append(element);
    }
}

void LL::removeAll(LL* other) {
    if (other == nullptr) return;
    if (other == this) {
        clear();
        return;
    }
    LLNode* cursor = nullptr;
    while (void* element = walk(other, &cursor)) remove(element);
}

// Insertion sort on the nodes. The prefix from head to node is sorted; the
// node after it is moved into place. The loop ends once the sentinel has
// been taken into the prefix, which is why less() sees the null element.
template <typename Less>
void LL::insertionSort(Less less) {
    LLNode* head = sentinel.next;
    LLNode* node = head;
    while (node->element != nullptr) {
        LLNode* next = node->next;
        if (less(next->element, head->element)) {
            node->next = next->next;
            next->next = head;
            head = next;
            continue;
        }
        LLNode* prev = head;
        LLNode* cur = head->next;
        while (less(cur->element, next->element)) {
            prev = cur;
            cur = cur->next;
        }
        if (cur == next) {
            node = next;
        } else {
            node->next = next->next;
            prev->next = next;
            next->next = cur;
        }
    }
    sentinel.next = head;
    tail = &sentinel;
    for (LLNode* n = head; n->element != nullptr; n = n->next) tail = n;
}

void LL::sort(LLSortFuntor* functor) {
    if (functor == nullptr) return;
    insertionSort([functor](void* a, void* b) { return functor->compare(a, b); });
}

void LL::sortBy(LLSortFunction function) {
    if (function == nullptr) return;
    insertionSort(function);
}

void LL::shuffle() {
    LL pool;
    for (LLNode* node = sentinel.next; node != &sentinel; node = node->next) {
        pool.append(node->element);
    }
    clear();
    for (int n = pool.count(); n > 0; --n) append(pool.removeAt(random_below(n)));
}

void* LL::walk(LL* list, LLNode** cursor) {
    LLNode* node = *cursor ? *cursor : &list->sentinel;
    node = node->next;
    *cursor = node;
    return node->element;
}

void* LL::first() {
    return sentinel.next->element;
}

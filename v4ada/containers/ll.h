// LL: the program's linked list of untyped element pointers.
//
// The chain is circular through a sentinel node embedded in the list: the
// sentinel's next is the first node, the last node's next is the sentinel,
// and the sentinel's element is always null. Null therefore ends every walk
// and is never stored. The list frees its nodes, never the elements.
//
// Operations are virtual so that subclasses can add behaviour (LLsafe locks
// them). Indexes are 0-based.
#pragma once

struct LLNode {
    void* element = nullptr;
    LLNode* next = nullptr;
};

// The comparison of LL::sort: compare(a, b) is true when a is to stand
// before b. The sort calls it with the sentinel's null element, so it must
// answer false for (null, anything), true for (element, null) and false for
// (x, x); a comparator that breaks this may loop forever.
class LLSortFuntor {
public:
    virtual ~LLSortFuntor() = default;
    virtual bool compare(void* a, void* b) = 0;
};

// The same contract as LLSortFuntor::compare, as a plain function.
using LLSortFunction = bool (*)(void* a, void* b);

class LL {
public:
    LL();
    virtual ~LL();
    LL(const LL&) = delete;
    LL& operator=(const LL&) = delete;

    // A node after the tail; a null element is ignored and gives null.
    virtual LLNode* append(void* element);
    // A node after the sentinel; a null element is ignored and gives null.
    virtual LLNode* prepend(void* element);
    // False when the element is already held; otherwise appends it.
    virtual bool addUnique(void* element);
    // Replaces the element at the index; an index at or past the end (or
    // negative) appends. A null element is ignored.
    virtual void setAt(int index, void* element);
    // Inserts so that the element gets the index; past the end (or negative)
    // appends. Returns the new node, null for a null element.
    virtual LLNode* insertAt(int index, void* element);
    // Unlinks the first node holding the pointer; true when found.
    virtual bool remove(void* element);
    // Unlinks the node at the index and returns its element; null when out
    // of range.
    virtual void* removeAt(int index);
    virtual void clear();
    // Number of elements, by walking.
    virtual int count();
    // Element at the index, null when out of range.
    virtual void* at(int index);
    // Removes the node following the given node (null: the first node).
    // Returns the given node (the sentinel for null), or null when nothing
    // follows it.
    virtual LLNode* removeAfter(LLNode* node);
    virtual bool contains(void* element);
    // Appends every element of the other list in order (null: nothing). A
    // list appended to itself gets one copy of what it held at the call.
    virtual void appendAll(LL* other);
    // Removes every element of the other list (null: nothing). A list
    // removed from itself becomes empty.
    virtual void removeAll(LL* other);
    // In-place insertion sort; see LLSortFuntor for the comparator contract.
    virtual void sort(LLSortFuntor* functor);
    virtual void sortBy(LLSortFunction function);
    // Random order, each position drawn with random_below.
    virtual void shuffle();

    // A new node after the given node (null: at the head). A null element
    // is refused (null is returned), since it would cut the chain.
    LLNode* insertAfter(LLNode* node, void* element);
    // Steps *cursor (null: start at the sentinel) to the next node and
    // returns its element; null when it reaches the sentinel. Calling again
    // from the sentinel starts over at the first node.
    static void* walk(LL* list, LLNode** cursor);
    // The first element or null.
    void* first();
    // count() through the virtual slot.
    int size() { return count(); }

protected:
    // Unlinks and frees the node after prev (which must not be the tail),
    // moving the tail back when the last node goes; returns its element.
    void* unlinkAfter(LLNode* prev);
    // The node at the index, null when out of range.
    LLNode* nodeAt(int index);
    template <typename Less>
    void insertionSort(Less less);

    LLNode sentinel;
    LLNode* tail;
};

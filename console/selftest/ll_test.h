// LLTest: removal while walking a list (random removal chains checked
// against the removed items), shuffling and sorting a list of strings, and
// sorting many small lists of numbers.
#pragma once

#include <cstdint>

#include "console/selftest/test.h"
#include "v4ada/containers/ll.h"

// One item of the removal test; both fields carry the item's number.
struct LLTestItem {
    explicit LLTestItem(int32_t number) : a(number), b(number) {}
    int32_t a;
    int32_t b;
};

constexpr int kLLTestItems = 50;

class LLTest : public Test {
public:
    LLTest();
    // Frees the items, in the list and removed alike.
    ~LLTest() override;

    bool run() override;

private:
    void freeItems();
    // Walks the list once, removing the item numbered start, then the item
    // of a new random number after it, and so on.
    void removalChain(int start);
    // Every number in order is in removed or next in the list.
    bool verify();
    bool stringSortCheck();
    bool numberSortCheck();

    LL items;                               // of LLTestItem*, owned
    LLTestItem* removed[kLLTestItems] = {};  // owned; null while in the list
};

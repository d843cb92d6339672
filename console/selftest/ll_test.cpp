#include "console/selftest/ll_test.h"

#include <cstdlib>

#include "console/selftest/test_output.h"
#include "v4ada/containers/list_iterator.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/time/random.h"

namespace {

constexpr int kRandomChains = 25;
constexpr int kNumberRounds = 5000;
constexpr int kNumbersPerRound = 6;

// The test strings, in the order they enter the list.
constexpr const char* kStrings[] = {"a", "a", "a", "b", "b", "b", "b", "c", "d",
                                    "e", "e", "e", "e", "e", "e", "f", "g"};
constexpr int kStringCount = sizeof kStrings / sizeof kStrings[0];

int randomNumber() { return rand() % kLLTestItems; }

// Strings by their first character; null goes last.
bool firstCharBefore(void* a, void* b) {
    if (!a) return false;
    if (!b) return true;
    return static_cast<const char*>(a)[0] < static_cast<const char*>(b)[0];
}

// Numbers ascending; null goes last.
bool numberBefore(void* a, void* b) {
    if (!a) return false;
    return !b || *static_cast<float*>(a) < *static_cast<float*>(b);
}

void printConcatenation(LL& list) {
    OwnedString text("");
    LLNode* cursor = nullptr;
    while (void* s = LL::walk(&list, &cursor)) text.append(static_cast<const char*>(s));
    test_print("%S", &text);
}

}  // namespace

LLTest::LLTest() = default;

LLTest::~LLTest() { freeItems(); }

void LLTest::freeItems() {
    LLNode* cursor = nullptr;
    while (void* item = LL::walk(&items, &cursor)) delete static_cast<LLTestItem*>(item);
    items.clear();
    for (LLTestItem*& item : removed) {
        delete item;
        item = nullptr;
    }
}

bool LLTest::run() {
    test_print(" LL test:");
    freeItems();
    for (int i = 0; i < kLLTestItems; ++i) items.append(new LLTestItem(i));

    removalChain(kLLTestItems - 1);
    if (!verify()) return false;
    removalChain(1);
    if (!verify()) return false;
    for (int i = 0; i < kRandomChains; ++i) {
        removalChain(randomNumber());
        if (!verify()) return false;
    }
    return stringSortCheck() && numberSortCheck();
}

void LLTest::removalChain(int start) {
    ListIterator it(&items);
    while (it.hasMore()) {
        LLTestItem* item = static_cast<LLTestItem*>(it.next());
        if (item->a != start) continue;
        it.removeCurrent();
        removed[item->a] = item;
        start = randomNumber();
    }
}

bool LLTest::verify() {
    LLNode* cursor = nullptr;
    LLTestItem* next = static_cast<LLTestItem*>(LL::walk(&items, &cursor));
    for (int n = 0; n < kLLTestItems; ++n) {
        if (removed[n]) {
            if (removed[n]->a != n || removed[n]->b != n) return false;
            continue;
        }
        if (!next || next->a != n || next->b != n) return false;
        next = static_cast<LLTestItem*>(LL::walk(&items, &cursor));
    }
    return next == nullptr;
}

bool LLTest::stringSortCheck() {
    LL strings;
    for (const char* s : kStrings) strings.append(const_cast<char*>(s));
    printConcatenation(strings);
    strings.shuffle();
    printConcatenation(strings);
    strings.shuffle();
    printConcatenation(strings);
    strings.sortBy(firstCharBefore);
    if (strings.count() != kStringCount) return false;
    LLNode* cursor = nullptr;
    char previous = 0;
    while (void* s = LL::walk(&strings, &cursor)) {
        char first = static_cast<const char*>(s)[0];
        if (first < previous) return false;
        previous = first;
    }
    printConcatenation(strings);
    return true;
}

bool LLTest::numberSortCheck() {
    for (int round = 0; round < kNumberRounds; ++round) {
        float numbers[kNumbersPerRound];
        LL drawn;
        for (float& number : numbers) {
            number = random_below(2) != 0 ? 0.0f : static_cast<float>(random_below(20));
            drawn.append(&number);
        }
        LL sorted;
        sorted.appendAll(&drawn);
        sorted.sortBy(numberBefore);
        if (sorted.count() != kNumbersPerRound) return false;
    }
    return true;
}

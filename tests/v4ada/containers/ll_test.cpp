#include "v4ada/containers/ll.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "v4ada/containers/ll_safe.h"
#include "v4ada/containers/list_iterator.h"

namespace {

// Elements are the addresses of these values; lists are described by the
// values' indexes.
int values[64];
void* E(int i) { return &values[i]; }
int indexOf(void* element) { return static_cast<int>(static_cast<int*>(element) - values); }

// Reaches the chain's ends to check them after each operation.
template <typename Base>
struct Probe : Base {
    LLNode* tailNode() { return this->tail; }
    LLNode* sentinelNode() { return &this->sentinel; }
};

// Contents by walking, after checking that the chain is closed through the
// sentinel and that the tail is its last node.
template <typename L>
std::vector<int> contents(Probe<L>& list) {
    std::vector<int> out;
    LLNode* last = list.sentinelNode();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&list, &cursor)) {
        out.push_back(indexOf(element));
        last = cursor;
    }
    EXPECT_EQ(cursor, list.sentinelNode());
    EXPECT_EQ(list.tailNode(), last);
    EXPECT_EQ(list.tailNode()->next, list.sentinelNode());
    EXPECT_EQ(list.sentinelNode()->element, nullptr);
    return out;
}

template <typename L>
void fill(L& list, const std::vector<int>& items) {
    for (int i : items) list.LL::append(E(i));
}

using V = std::vector<int>;

struct OpCase {
    const char* name;
    V initial;
    std::function<void(Probe<LL>&)> op;
    V expected;
};

TEST(LLTest, OperationsTable) {
    const OpCase cases[] = {
        {"append null is ignored", {1, 2},
         [](Probe<LL>& l) { EXPECT_EQ(l.append(nullptr), nullptr); }, {1, 2}},
        {"append returns the new tail", {1},
         [](Probe<LL>& l) { LLNode* n = l.append(E(2)); EXPECT_EQ(n, l.tailNode()); EXPECT_EQ(n->element, E(2)); },
         {1, 2}},
        {"prepend null is ignored", {1},
         [](Probe<LL>& l) { EXPECT_EQ(l.prepend(nullptr), nullptr); }, {1}},
        {"prepend on empty becomes the tail", {},
         [](Probe<LL>& l) { l.prepend(E(1)); l.append(E(2)); }, {1, 2}},
        {"prepend goes first", {1, 2}, [](Probe<LL>& l) { l.prepend(E(3)); }, {3, 1, 2}},
        {"addUnique refuses a held element", {1, 2},
         [](Probe<LL>& l) { EXPECT_FALSE(l.addUnique(E(2))); EXPECT_TRUE(l.addUnique(E(3))); }, {1, 2, 3}},
        {"setAt replaces in range", {1, 2, 3}, [](Probe<LL>& l) { l.setAt(1, E(9)); }, {1, 9, 3}},
        {"setAt at the count appends", {1, 2}, [](Probe<LL>& l) { l.setAt(2, E(9)); }, {1, 2, 9}},
        {"setAt past the end appends", {1}, [](Probe<LL>& l) { l.setAt(7, E(9)); }, {1, 9}},
        {"setAt negative appends", {1}, [](Probe<LL>& l) { l.setAt(-1, E(9)); }, {1, 9}},
        {"setAt with null leaves the element", {1, 2}, [](Probe<LL>& l) { l.setAt(0, nullptr); }, {1, 2}},
        {"insertAt 0 on empty is first and last", {},
         [](Probe<LL>& l) { l.insertAt(0, E(1)); l.append(E(2)); }, {1, 2}},
        {"insertAt 0 goes first", {1, 2}, [](Probe<LL>& l) { l.insertAt(0, E(9)); }, {9, 1, 2}},
        {"insertAt k gives index k", {1, 2, 3},
         [](Probe<LL>& l) { l.insertAt(2, E(9)); EXPECT_EQ(l.at(2), E(9)); }, {1, 2, 9, 3}},
        {"insertAt the count appends", {1, 2},
         [](Probe<LL>& l) { l.insertAt(2, E(9)); l.append(E(8)); }, {1, 2, 9, 8}},
        {"insertAt past the end appends", {1}, [](Probe<LL>& l) { l.insertAt(5, E(9)); }, {1, 9}},
        {"insertAt null is ignored", {1},
         [](Probe<LL>& l) { EXPECT_EQ(l.insertAt(0, nullptr), nullptr); }, {1}},
        {"remove takes the first holder only", {1, 2, 1},
         [](Probe<LL>& l) { EXPECT_TRUE(l.remove(E(1))); EXPECT_FALSE(l.remove(E(5))); }, {2, 1}},
        {"remove of the last moves the tail", {1, 2},
         [](Probe<LL>& l) { EXPECT_TRUE(l.remove(E(2))); l.append(E(3)); }, {1, 3}},
        {"removeAt of the last moves the tail", {1, 2, 3},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAt(2), E(3)); l.append(E(4)); }, {1, 2, 4}},
        {"removeAt of the only element empties", {1},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAt(0), E(1)); l.append(E(2)); }, {2}},
        {"removeAt out of range gives null", {1, 2},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAt(2), nullptr); EXPECT_EQ(l.removeAt(-1), nullptr); }, {1, 2}},
        {"removeAfter null removes the first", {1, 2},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAfter(nullptr), l.sentinelNode()); }, {2}},
        {"removeAfter null on empty gives null", {},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAfter(nullptr), nullptr); }, {}},
        {"removeAfter the tail gives null", {1, 2},
         [](Probe<LL>& l) { EXPECT_EQ(l.removeAfter(l.tailNode()), nullptr); }, {1, 2}},
        {"removeAfter before the tail moves the tail", {1, 2, 3},
         [](Probe<LL>& l) {
             LLNode* second = l.sentinelNode()->next->next;
             EXPECT_EQ(l.removeAfter(second), second);
             l.append(E(4));
         },
         {1, 2, 4}},
        {"clear empties and the list stays usable", {1, 2, 3},
         [](Probe<LL>& l) { l.clear(); EXPECT_EQ(l.count(), 0); l.append(E(4)); }, {4}},
        {"insertAfter refuses null", {1},
         [](Probe<LL>& l) { EXPECT_EQ(l.insertAfter(l.tailNode(), nullptr), nullptr); }, {1}},
        {"insertAfter the tail moves the tail", {1},
         [](Probe<LL>& l) { l.insertAfter(l.tailNode(), E(2)); l.append(E(3)); }, {1, 2, 3}},
        {"insertAfter null inserts at the head", {1},
         [](Probe<LL>& l) { l.insertAfter(nullptr, E(2)); }, {2, 1}},
        {"appendAll of null does nothing", {1}, [](Probe<LL>& l) { l.appendAll(nullptr); }, {1}},
        {"appendAll of self appends one copy", {1, 2}, [](Probe<LL>& l) { l.appendAll(&l); }, {1, 2, 1, 2}},
        {"removeAll of self empties", {1, 2, 1}, [](Probe<LL>& l) { l.removeAll(&l); }, {}},
        {"removeAll of null does nothing", {1}, [](Probe<LL>& l) { l.removeAll(nullptr); }, {1}},
    };
    for (const OpCase& c : cases) {
        SCOPED_TRACE(c.name);
        Probe<LL> list;
        fill(list, c.initial);
        c.op(list);
        EXPECT_EQ(contents(list), c.expected);
    }
}

TEST(LLTest, QueriesAndListArguments) {
    Probe<LL> list;
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.size(), 0);
    fill(list, {4, 5, 6});
    EXPECT_EQ(list.first(), E(4));
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.size(), 3);
    EXPECT_EQ(list.at(2), E(6));
    EXPECT_EQ(list.at(3), nullptr);
    EXPECT_EQ(list.at(-1), nullptr);
    EXPECT_TRUE(list.contains(E(5)));
    EXPECT_FALSE(list.contains(E(7)));
    EXPECT_FALSE(list.contains(nullptr));

    Probe<LL> other;
    fill(other, {6, 7, 4});
    list.appendAll(&other);
    EXPECT_EQ(contents(list), (V{4, 5, 6, 6, 7, 4}));
    list.removeAll(&other);  // one removal per element of the other list
    EXPECT_EQ(contents(list), (V{5, 6, 4}));
    EXPECT_EQ(contents(other), (V{6, 7, 4}));
}

TEST(LLTest, WalkStartsOverFromTheSentinel) {
    Probe<LL> list;
    fill(list, {1, 2});
    LLNode* cursor = nullptr;
    EXPECT_EQ(LL::walk(&list, &cursor), E(1));
    EXPECT_EQ(LL::walk(&list, &cursor), E(2));
    EXPECT_EQ(LL::walk(&list, &cursor), nullptr);
    EXPECT_EQ(LL::walk(&list, &cursor), E(1));
}

// --- sort -------------------------------------------------------------------

// Orders int pointers by value under the null contract.
bool byValue(void* a, void* b) {
    if (a == nullptr) return false;
    if (b == nullptr) return true;
    return *static_cast<int*>(a) < *static_cast<int*>(b);
}

struct RecordingComparator : LLSortFuntor {
    std::vector<std::pair<void*, void*>> calls;
    bool compare(void* a, void* b) override {
        calls.emplace_back(a, b);
        return byValue(a, b);
    }
};

TEST(LLSortTest, EmptyAndSingleElementOnlyMeetTheNullElement) {
    Probe<LL> empty;
    RecordingComparator none;
    empty.sort(&none);
    EXPECT_TRUE(none.calls.empty());
    EXPECT_EQ(contents(empty), V{});
    EXPECT_EQ(empty.tailNode(), empty.sentinelNode());

    Probe<LL> one;
    fill(one, {3});
    RecordingComparator rec;
    one.sort(&rec);
    ASSERT_FALSE(rec.calls.empty());
    for (auto& call : rec.calls) {
        EXPECT_TRUE(call.first == nullptr || call.second == nullptr);
    }
    EXPECT_EQ(contents(one), V{3});
    one.append(E(4));
    EXPECT_EQ(contents(one), (V{3, 4}));
}

TEST(LLSortTest, RandomInputsComeOutOrdered) {
    srand(1234);
    for (int size : {2, 3, 5, 17, 64}) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "size " << size << " round " << round);
            for (int i = 0; i < size; ++i) values[i] = rand() % 10;  // with duplicates
            V order(size);
            for (int i = 0; i < size; ++i) order[i] = i;
            std::vector<int> expected;
            for (int i = 0; i < size; ++i) expected.push_back(values[i]);
            std::sort(expected.begin(), expected.end());

            Probe<LL> byFunctor;
            fill(byFunctor, order);
            RecordingComparator cmp;
            byFunctor.sort(&cmp);
            Probe<LL> byFunction;
            fill(byFunction, order);
            byFunction.sortBy(byValue);

            for (Probe<LL>* list : {&byFunctor, &byFunction}) {
                std::vector<int> got;
                for (int i : contents(*list)) got.push_back(values[i]);
                EXPECT_EQ(got, expected);
                // Every element is still there once.
                V idx = contents(*list);
                std::sort(idx.begin(), idx.end());
                EXPECT_EQ(idx, order);
            }
        }
    }
}

TEST(LLShuffleTest, GivesAPermutation) {
    srand(99);
    V order;
    for (int i = 0; i < 40; ++i) order.push_back(i);
    Probe<LL> list;
    fill(list, order);
    bool moved = false;
    for (int round = 0; round < 3; ++round) {
        list.shuffle();
        V got = contents(list);
        moved = moved || got != order;
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, order);
    }
    EXPECT_TRUE(moved);

    Probe<LL> empty;
    empty.shuffle();
    EXPECT_EQ(contents(empty), V{});
}

// --- ListIterator -----------------------------------------------------------

TEST(ListIteratorTest, RemovingEveryOtherElementWhileWalking) {
    Probe<LL> list;
    fill(list, {0, 1, 2, 3, 4, 5, 6});
    ListIterator it(&list);
    V seen;
    bool drop = true;
    while (it.hasMore()) {
        seen.push_back(indexOf(it.next()));
        if (drop) {
            EXPECT_TRUE(it.removeCurrent());
        }
        drop = !drop;
    }
    EXPECT_EQ(seen, (V{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(contents(list), (V{1, 3, 5}));
    list.append(E(9));
    EXPECT_EQ(contents(list), (V{1, 3, 5, 9}));
}

TEST(ListIteratorTest, RemoveCurrentAfterTheFirstNextStaysOnTheSecond) {
    Probe<LL> list;
    fill(list, {0, 1, 2});
    ListIterator it(&list);
    EXPECT_EQ(it.next(), E(0));
    EXPECT_TRUE(it.removeCurrent());
    EXPECT_EQ(it.next(), E(1));
    EXPECT_EQ(contents(list), (V{1, 2}));
}

struct IteratorCase {
    const char* name;
    V initial;
    std::function<void(ListIterator&)> steps;
    V expected;
};

TEST(ListIteratorTest, StepsTable) {
    const IteratorCase cases[] = {
        {"removeCurrent before any next removes nothing", {0, 1},
         [](ListIterator& it) { EXPECT_FALSE(it.removeCurrent()); EXPECT_EQ(it.next(), E(0)); }, {0, 1}},
        {"second removeCurrent after the first next is a no-op", {0, 1, 2},
         [](ListIterator& it) {
             it.next();
             EXPECT_TRUE(it.removeCurrent());
             EXPECT_FALSE(it.removeCurrent());
             EXPECT_EQ(it.next(), E(1));
         },
         {1, 2}},
        {"second removeCurrent in the middle is a no-op", {0, 1, 2, 3},
         [](ListIterator& it) {
             it.skip(2);
             EXPECT_TRUE(it.removeCurrent());
             EXPECT_FALSE(it.removeCurrent());
             EXPECT_EQ(it.next(), E(2));
         },
         {0, 2, 3}},
        {"second removeCurrent at the end is a no-op", {0, 1, 2},
         [](ListIterator& it) {
             it.skip(3);
             EXPECT_TRUE(it.removeCurrent());
             EXPECT_FALSE(it.removeCurrent());
             EXPECT_FALSE(it.hasMore());
         },
         {0, 1}},
        {"next at the end stays at the end", {0, 1},
         [](ListIterator& it) {
             it.skip(5);
             EXPECT_EQ(it.next(), nullptr);
             EXPECT_EQ(it.next(), nullptr);
             EXPECT_TRUE(it.removeCurrent());
         },
         {0}},
        {"insertAfter is not visited", {0, 1},
         [](ListIterator& it) {
             it.next();
             it.insertAfter(E(9));
             EXPECT_EQ(it.next(), E(1));
             EXPECT_FALSE(it.hasMore());
         },
         {0, 9, 1}},
        {"insertBefore becomes the current element", {0, 1},
         [](ListIterator& it) {
             it.next();
             it.next();
             it.insertBefore(E(9));
             EXPECT_TRUE(it.removeCurrent());
         },
         {0, 1}},
        {"insertBefore ahead of the first next goes to the head", {0},
         [](ListIterator& it) { it.insertBefore(E(9)); EXPECT_EQ(it.next(), E(0)); }, {9, 0}},
        {"removal after an insertAfter takes the returned element", {0, 1, 2},
         [](ListIterator& it) {
             it.next();
             it.insertAfter(E(9));
             EXPECT_EQ(it.next(), E(1));
             EXPECT_TRUE(it.removeCurrent());
         },
         {0, 9, 2}},
        {"removal after an insertBefore takes the returned element", {0, 1, 2},
         [](ListIterator& it) {
             it.next();
             it.insertBefore(E(9));
             EXPECT_EQ(it.next(), E(1));
             EXPECT_TRUE(it.removeCurrent());
         },
         {9, 0, 2}},
        {"insert after a removal fills the gap", {0, 1, 2},
         [](ListIterator& it) {
             it.skip(2);
             it.removeCurrent();
             it.insertAfter(E(9));
             EXPECT_EQ(it.next(), E(2));
             EXPECT_TRUE(it.removeCurrent());
         },
         {0, 9}},
        {"null inserts are ignored", {0},
         [](ListIterator& it) {
             it.next();
             it.insertBefore(nullptr);
             it.insertAfter(nullptr);
             EXPECT_TRUE(it.removeCurrent());
         },
         {}},
        {"reset starts over", {0, 1},
         [](ListIterator& it) {
             it.skip(2);
             it.reset();
             EXPECT_FALSE(it.removeCurrent());
             EXPECT_EQ(it.next(), E(0));
         },
         {0, 1}},
    };
    for (const IteratorCase& c : cases) {
        SCOPED_TRACE(c.name);
        Probe<LL> list;
        fill(list, c.initial);
        ListIterator it(&list);
        c.steps(it);
        EXPECT_EQ(contents(list), c.expected);
    }
}

// --- LLsafe (single thread) ---------------------------------------------------

TEST(LLsafeTest, LockedFormsKeepTheListBehaviour) {
    Probe<LLsafe> list;
    EXPECT_EQ(list.append(nullptr), nullptr);
    list.append(E(1));
    list.prepend(E(0));
    list.setAt(5, E(2));  // past the end: appended after the lock is released
    list.setAt(0, E(3));
    EXPECT_EQ(contents(list), (V{3, 1, 2}));
    EXPECT_TRUE(list.addUnique(E(4)));
    EXPECT_EQ(list.insertAt(9, E(5))->element, E(5));
    EXPECT_EQ(list.count(), 5);
    EXPECT_EQ(list.at(1), E(1));
    EXPECT_EQ(list.removeAt(0), E(3));
    EXPECT_TRUE(list.remove(E(5)));
    list.sortBy([](void* a, void* b) { return a != nullptr && (b == nullptr || indexOf(a) > indexOf(b)); });
    EXPECT_EQ(contents(list), (V{4, 2, 1}));
    list.shuffle();
    list.sort(nullptr);
    EXPECT_EQ(list.count(), 3);
    list.clear();
    EXPECT_EQ(contents(list), V{});
}

TEST(LLsafeTest, AppendAllAndRemoveAllOfItselfEnd) {
    Probe<LLsafe> list;
    fill(list, {1, 2});
    list.appendAll(&list);
    EXPECT_EQ(contents(list), (V{1, 2, 1, 2}));
    Probe<LL> other;
    fill(other, {2, 3});
    list.appendAll(&other);
    list.removeAll(&other);
    EXPECT_EQ(contents(list), (V{1, 1, 2, 2}));
    list.removeAll(&list);
    EXPECT_EQ(contents(list), V{});
}

TEST(LLsafeTest, UnlockedFormsWorkUnderTheLock) {
    Probe<LLsafe> list;
    fill(list, {0, 1, 2, 3});
    list.lock();
    EXPECT_EQ(list.LL::count(), 4);
    ListIterator it(&list);
    while (it.hasMore()) {
        if (indexOf(it.next()) % 2 == 0) it.removeCurrent();
    }
    list.LL::append(E(5));
    EXPECT_TRUE(list.contains(E(5)));
    list.unlock();
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(contents(list), (V{1, 3, 5}));
}

TEST(LLsafeDeathTest, LockedFormUnderTheLockFailsLoudly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            LLsafe list;
            list.lock();
            list.count();
        },
        "LLsafe::count called while this thread holds the list lock");
}

}  // namespace

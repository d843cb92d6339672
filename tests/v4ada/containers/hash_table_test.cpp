#include "v4ada/containers/hash_table.h"

#include <gtest/gtest.h>

#include <vector>

#include "v4ada/error/error.h"

namespace {

std::vector<void*> valuesOf(LL* list) {
    std::vector<void*> out;
    if (list == nullptr) return out;
    LLNode* cursor = nullptr;
    while (void* v = LL::walk(list, &cursor)) out.push_back(v);
    return out;
}

int a, b, c, d;

TEST(HashTable32, ValuesOfOneKeyShareOneList) {
    HashTable32 t;
    t.init(7);
    t.add(3, &a);
    t.add(3, &b);
    HT32_InnerList* list = t.find(3);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->key, 3u);
    EXPECT_EQ(valuesOf(list), (std::vector<void*>{&a, &b}));

    t.remove(3, &c);  // not held: nothing changes
    EXPECT_EQ(t.find(3), list);
    t.remove(3, &a);
    EXPECT_EQ(valuesOf(t.find(3)), (std::vector<void*>{&b}));
    t.remove(3, &b);
    EXPECT_EQ(t.find(3), nullptr);
    t.remove(3, &b);  // no list left: nothing
}

TEST(HashTable32, KeysSharingABucketKeepSeparateLists) {
    HashTable32 t;
    t.init(11);
    t.add(5, &a);
    t.add(5 + 11, &b);
    t.add(5 + 22, &c);
    EXPECT_EQ(valuesOf(t.find(5)), (std::vector<void*>{&a}));
    EXPECT_EQ(valuesOf(t.find(16)), (std::vector<void*>{&b}));
    EXPECT_EQ(valuesOf(t.find(27)), (std::vector<void*>{&c}));
    EXPECT_EQ(t.find(38), nullptr);

    t.removeKey(16);
    EXPECT_EQ(t.find(16), nullptr);
    EXPECT_EQ(valuesOf(t.find(5)), (std::vector<void*>{&a}));
    EXPECT_EQ(valuesOf(t.find(27)), (std::vector<void*>{&c}));
    EXPECT_EQ(t.find(0xFFFFFFFFu), nullptr);
}

TEST(HashTable32, WithoutBuckets) {
    HashTable32 t;
    EXPECT_EQ(t.find(1), nullptr);
    t.remove(1, &a);
    t.removeKey(1);
    EXPECT_THROW(t.add(1, &a), i4_err);
    t.init(3);
    t.add(1, &a);
    t.init(5);  // a rebuild starts empty
    EXPECT_EQ(t.find(1), nullptr);
}

// An inner list of its own kind, made through the prototype.
class CountingList : public HT128_InnerList {
public:
    HT128_InnerList* makeNew() override {
        made++;
        return new CountingList;
    }
    LLNode* append(void* element) override {
        appended++;
        return HT128_InnerList::append(element);
    }
    static inline int made = 0;
    static inline int appended = 0;
};

UniqueID idFrom(const char* hex) {
    UniqueID id;
    EXPECT_TRUE(id.fromHex(hex));
    return id;
}

TEST(HashTable128, IdsSharingTheirFirstWordShareABucketButNotAList) {
    CountingList::made = CountingList::appended = 0;
    HashTable128 t(new CountingList);
    t.init(13);
    UniqueID x = idFrom("0a0b0c0d000000000000000000000000");
    UniqueID y = idFrom("0a0b0c0dffffffffffffffffffffffff");
    UniqueID z = idFrom("0a0b0c0e000000000000000000000000");
    HT128_InnerList* lx = t.add(x, &a);
    HT128_InnerList* ly = t.add(y, &b);
    EXPECT_NE(lx, ly);
    EXPECT_EQ(t.add(x, &c), lx);
    t.add(z, &d);
    EXPECT_EQ(CountingList::made, 3);
    EXPECT_EQ(CountingList::appended, 4);
    EXPECT_NE(dynamic_cast<CountingList*>(lx), nullptr);

    EXPECT_TRUE(t.find(y)->key.equals(y));
    EXPECT_EQ(valuesOf(t.find(x)), (std::vector<void*>{&a, &c}));
    EXPECT_EQ(valuesOf(t.find(y)), (std::vector<void*>{&b}));
    EXPECT_EQ(t.count(), 4);
    EXPECT_EQ(t.find(idFrom("0a0b0c0d000000000000000000000001")), nullptr);

    t.remove(y, &b);
    EXPECT_EQ(t.find(y), nullptr);
    t.removeKey(x);
    EXPECT_EQ(t.find(x), nullptr);
    EXPECT_EQ(t.count(), 1);
}

class Refuse : public ElementFunctor {
public:
    bool apply(void* value, void* argument) override {
        seen.push_back(value);
        return value == argument;
    }
    std::vector<void*> seen;
};

// Refused values leave at once; an inner list emptied by the walk is
// freed (the service index empties lists all the time).
TEST(HashTable128, ForEachRemovesRefusedValuesAndFreesEmptiedLists) {
    HashTable128 t;
    t.init(5);
    UniqueID x = idFrom("01000000000000000000000000000000");
    UniqueID y = idFrom("02000000000000000000000000000000");
    UniqueID z = idFrom("07000000000000000000000000000000");  // y's bucket
    t.add(x, &a);
    t.add(x, &b);
    t.add(x, &c);
    t.add(y, &d);
    t.add(z, &b);

    Refuse keepB;
    EXPECT_EQ(t.forEach(&keepB, &b), 5u);
    EXPECT_EQ(keepB.seen, (std::vector<void*>{&a, &b, &c, &d, &b}));
    EXPECT_EQ(valuesOf(t.find(x)), (std::vector<void*>{&b}));
    EXPECT_EQ(t.find(y), nullptr);
    EXPECT_EQ(valuesOf(t.find(z)), (std::vector<void*>{&b}));

    Refuse keepNone;
    t.forEach(&keepNone, nullptr);
    EXPECT_EQ(t.find(x), nullptr);
    EXPECT_EQ(t.find(z), nullptr);
    EXPECT_EQ(t.count(), 0);
    t.add(y, &a);  // a key can come back
    EXPECT_EQ(valuesOf(t.find(y)), (std::vector<void*>{&a}));
}

}  // namespace

// The routing table: invariants and nearest against a brute-force model,
// the split, replace and merge rules, the size estimate and the texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "core/net/ip_text.h"
#include "overlay/overlay_fixture.h"
#include "overlay/routing/contact_list.h"
#include "support/ui_capture.h"

using namespace overlaytest;

namespace {

// An identifier with exactly the given bits set (bit 0: the top bit).
UniqueID withBits(std::initializer_list<unsigned> bits) {
    UniqueID id;
    for (unsigned bit : bits) id.setBit(bit, true);
    return id;
}

Node contact(const UniqueID& id, int misses = 0, int port = 4672) { return makeNode(id, "10.0.0.7", port, misses); }

std::vector<Node*> allOf(ContactList& table) {
    LL all;
    table.allContacts(&all);
    std::vector<Node*> nodes;
    for (int i = 0; i < all.count(); i++) nodes.push_back(static_cast<Node*>(all.at(i)));
    return nodes;
}

Node* find(ContactList& table, const UniqueID& id) { return table.root()->leaf(id)->contacts.findById(id); }

// Walks the tree and checks every structural rule; returns the number of
// own-side leaves.
int checkBucket(Bucket* bucket, const UniqueID& own, int capacity, std::set<std::string>& ids) {
    EXPECT_EQ((bucket->child0 == nullptr), (bucket->child1 == nullptr));
    EXPECT_EQ(bucket->count, bucket->contacts.count());
    if (bucket->parent != nullptr) {
        EXPECT_EQ(bucket->depth, bucket->parent->depth + 1);
    }
    if (bucket->child0 != nullptr) {
        EXPECT_EQ(bucket->count, 0);
        EXPECT_FALSE(bucket->ownSide);
        return checkBucket(bucket->child0, own, capacity, ids) + checkBucket(bucket->child1, own, capacity, ids);
    }
    EXPECT_LE(bucket->count, capacity);
    for (Node* node : bucket->contacts.nodes()) {
        // Each contact lies in the range of its leaf.
        for (Bucket* b = bucket; b->parent != nullptr; b = b->parent) {
            EXPECT_EQ(node->id.bit(b->parent->depth), b == b->parent->child1 ? 1 : 0);
        }
        EXPECT_TRUE(ids.insert(std::string(reinterpret_cast<char*>(node->id.bytes()), 16)).second) << "duplicate id";
        EXPECT_FALSE(node->id.isZero());
        EXPECT_FALSE(node->id.equals(own));
        EXPECT_GT(node->ip, 0x00FFFFFFu);
    }
    return bucket->ownSide ? 1 : 0;
}

void checkInvariants(ContactList& table) {
    std::set<std::string> ids;
    EXPECT_EQ(checkBucket(table.root(), table.ownId(), kBucketCapacity, ids), 1);
    EXPECT_TRUE(table.ownLeaf()->ownSide);
}

// nearest(target, n) must give the n smallest distances of the table.
void checkNearest(ContactList& table, const UniqueID& target, int n) {
    std::vector<Node*> all = allOf(table);
    std::sort(all.begin(), all.end(), [&](Node* a, Node* b) { return isCloser(target, a->id, b->id); });
    LL out;
    int got = table.nearest(target, n, &out);
    int expected = std::min<int>(n, static_cast<int>(all.size()));
    ASSERT_EQ(got, expected);
    std::set<std::string> want, have;
    for (int i = 0; i < expected; i++) want.insert(std::string(reinterpret_cast<char*>(all[i]->id.bytes()), 16));
    for (int i = 0; i < got; i++)
        have.insert(std::string(reinterpret_cast<char*>(static_cast<Node*>(out.at(i))->id.bytes()), 16));
    EXPECT_EQ(have, want);
}

class ContactListModel : public ::testing::TestWithParam<int> {};

TEST_P(ContactListModel, RandomOperationsKeepTheRules) {
    std::mt19937 rng(GetParam());
    UniqueID own = GetParam() == 0 ? UniqueID() : randomId(rng);
    ContactList table(own, kBucketCapacity);
    std::map<std::string, int> misses;  // ids that may be in the table, with their misses
    std::vector<UniqueID> known;
    auto key = [](const UniqueID& id) { return std::string(reinterpret_cast<const char*>(id.bytes()), 16); };

    for (int step = 0; step < 4000; step++) {
        int what = static_cast<int>(rng() % 10);
        if (what < 6 || known.empty()) {
            // Near the own id now and then, so that the tree grows deep.
            UniqueID id = randomId(rng);
            if (rng() % 2) {
                int prefix = static_cast<int>(rng() % 24);
                for (int bit = 0; bit < prefix; bit++) id.setBit(bit, own.bit(bit));
            }
            Node node = contact(id, static_cast<int>(rng() % 3));
            if (rng() % 40 == 0) node.ip = ipFromText("0.0.0.9");
            bool present = find(table, id) != nullptr;
            table.add(&node);
            if (node.ip < 0x01000000u) {
                EXPECT_EQ(find(table, id) != nullptr, present);
                continue;
            }
            if (!present && find(table, id) != nullptr) misses[key(id)] = node.misses;
            known.push_back(id);
        } else {
            const UniqueID& id = known[rng() % known.size()];
            Node node = contact(id);
            Node* before = find(table, id);
            if (before != nullptr) {
                EXPECT_EQ(before->misses, misses[key(id)]);
            }
            if (what < 8) {
                EXPECT_EQ(table.remove(&node), before != nullptr);
            } else if (before != nullptr) {
                int count = ++misses[key(id)];
                EXPECT_EQ(table.miss(&node), count > kMaxMisses);
                if (count <= kMaxMisses) {
                    ASSERT_NE(find(table, id), nullptr);
                    EXPECT_EQ(find(table, id)->misses, count);
                } else {
                    EXPECT_EQ(find(table, id), nullptr);
                }
            } else {
                EXPECT_FALSE(table.miss(&node));
            }
            if (what < 8) {
                EXPECT_EQ(find(table, id), nullptr);
            }
        }
        if (step % 50 == 0) {
            checkInvariants(table);
            checkNearest(table, randomId(rng), static_cast<int>(rng() % 40));
            checkNearest(table, own, 20);
        }
    }
    checkInvariants(table);
    // Nothing is in the table that the model does not know.
    for (Node* node : allOf(table)) EXPECT_TRUE(misses.count(key(node->id)));
}

INSTANTIATE_TEST_SUITE_P(OwnIds, ContactListModel, ::testing::Values(0, 1, 2));

TEST(ContactListRules, RefusedAndUpdatedContacts) {
    UniqueID own = withBits({0});
    ContactList table(own, kBucketCapacity);
    Node low = makeNode(withBits({5}), "1.2.3.0", 1);
    Node lowest = makeNode(withBits({5}), 0x00FFFFFFu, 1);
    Node zero = contact(UniqueID());
    Node self = contact(own);
    for (Node* n : {&low, &lowest, &zero, &self}) table.add(n);
    EXPECT_EQ(table.size(), 0);

    Node a = contact(withBits({3}), 2, 100);
    table.add(&a);
    Node moved = makeNode(withBits({3}), "10.9.9.9", 200, 0);
    table.add(&moved);
    Node* kept = find(table, withBits({3}));
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(kept->port, 200);
    EXPECT_EQ(kept->ip, ipFromText("10.9.9.9"));
    EXPECT_EQ(kept->misses, 2);
}

// The Part's cases of split, replacement and merge, with an all-zero own
// id: contacts 0..19 have the top bit 1 (far side), 20.. the top bit 0.
TEST(ContactListRules, SplitReplaceMerge) {
    auto far = [](int i, int misses = 0) { return contact(withBits({0, 8u + static_cast<unsigned>(i)}), misses); };
    auto near = [](int i) { return contact(withBits({1u + static_cast<unsigned>(i % 2), 8u + static_cast<unsigned>(i)})); };

    struct Case {
        const char* name;
        std::function<void(ContactList&)> run;
    } cases[] = {
        {"21st contact splits the root",
         [&](ContactList& t) {
             for (int i = 0; i < 10; i++) {
                 Node f = far(i), n = near(i);
                 t.add(&f);
                 t.add(&n);
             }
             EXPECT_EQ(t.root()->child0, nullptr);
             EXPECT_EQ(t.root()->count, 20);
             Node n = near(10);
             t.add(&n);
             ASSERT_NE(t.root()->child0, nullptr);
             EXPECT_TRUE(t.root()->child0->ownSide);
             EXPECT_EQ(t.root()->child0->count, 11);
             EXPECT_EQ(t.root()->child1->count, 10);
         }},
        {"the far side replaces only with fewer misses, the later of equals",
         [&](ContactList& t) {
             for (int i = 0; i < 20; i++) {
                 Node f = far(i, i == 4 || i == 9 ? 3 : 1);
                 t.add(&f);
             }
             Node n = near(0);
             t.add(&n);  // split: the far side is child1, full
             Bucket* side = t.root()->child1;
             ASSERT_EQ(side->count, 20);
             Node same = far(30, 3);
             t.add(&same);
             EXPECT_EQ(find(t, same.id), nullptr);
             Node better = far(31, 2);
             t.add(&better);
             EXPECT_NE(find(t, better.id), nullptr);
             EXPECT_NE(find(t, withBits({0, 12})), nullptr) << "the earlier of the equals stays";
             EXPECT_EQ(find(t, withBits({0, 17})), nullptr) << "the later of the equals goes";
             EXPECT_EQ(side->count, 20);
             EXPECT_EQ(side->child0, nullptr);
         }},
        {"fourth miss keeps, fifth drops",
         [&](ContactList& t) {
             Node f = far(0);
             t.add(&f);
             for (int i = 1; i <= 4; i++) EXPECT_FALSE(t.miss(&f));
             EXPECT_EQ(find(t, f.id)->misses, 4);
             EXPECT_TRUE(t.miss(&f));
             EXPECT_EQ(t.size(), 0);
             EXPECT_FALSE(t.miss(&f));
         }},
        {"removals merge the own leaf, twice up",
         [&](ContactList& t) {
             // far side 2, {1,..} 2, {2,..} 19: two splits, the own leaf
             // at depth 2.
             auto mid = [](int i) { return contact(withBits({1, 20u + static_cast<unsigned>(i)})); };
             auto deep = [](int i) { return contact(withBits({2, 40u + static_cast<unsigned>(i)})); };
             for (int i = 0; i < 2; i++) {
                 Node f = far(i), m = mid(i);
                 t.add(&f);
                 t.add(&m);
             }
             for (int i = 0; i < 19; i++) {
                 Node d = deep(i);
                 t.add(&d);
             }
             Bucket* own = t.ownLeaf();
             ASSERT_EQ(own->depth, 2);
             EXPECT_EQ(own->count, 19);
             for (int i = 0; i < 15; i++) {
                 Node d = deep(i);
                 EXPECT_TRUE(t.remove(&d));
             }
             EXPECT_EQ(t.ownLeaf()->depth, 2) << "4 left: no merge";
             Node d15 = deep(15);
             EXPECT_TRUE(t.remove(&d15));
             EXPECT_EQ(t.ownLeaf()->depth, 1) << "3 left: merged with the 2 beside";
             EXPECT_EQ(t.ownLeaf()->count, 5);
             Node d16 = deep(16), m0 = mid(0);
             EXPECT_TRUE(t.remove(&d16));
             EXPECT_EQ(t.ownLeaf()->depth, 1);
             EXPECT_TRUE(t.remove(&m0));
             EXPECT_EQ(t.root()->child0, nullptr) << "3 left: merged into the root";
             EXPECT_TRUE(t.root()->ownSide);
             EXPECT_EQ(t.root()->count, 5);
         }},
        {"nearest sorts a leaf it takes part of",
         [&](ContactList& t) {
             for (int i = 0; i < 12; i++) {
                 Node f = far(i);
                 t.add(&f);
             }
             LL out;
             EXPECT_EQ(t.nearest(withBits({0, 19}), 3, &out), 3);
             EXPECT_TRUE(static_cast<Node*>(t.root()->contacts.first())->id.equals(withBits({0, 19})));
             LL all;
             EXPECT_EQ(t.nearest(UniqueID(), 100, &all), 12);
             LL none;
             EXPECT_EQ(t.nearest(UniqueID(), 0, &none), 0);
         }},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ContactList table(UniqueID(), kBucketCapacity);
        c.run(table);
        checkInvariants(table);
    }
}

TEST(ContactListRules, EmptyTable) {
    ContactList table(UniqueID(), kBucketCapacity);
    EXPECT_EQ(table.estimateSize(), 0);
    EXPECT_EQ(table.randomContact(), nullptr);
    LL out;
    EXPECT_EQ(table.nearest(UniqueID(), 20, &out), 0);
    Node missing = contact(withBits({4}));
    EXPECT_FALSE(table.remove(&missing));
}

TEST(ContactListRules, RandomContactDrawsEveryContact) {
    ContactList table(UniqueID(), kBucketCapacity);
    for (int i = 0; i < 5; i++) {
        Node n = contact(withBits({0, 10u + static_cast<unsigned>(i)}));
        table.add(&n);
    }
    std::set<Node*> seen;
    for (int i = 0; i < 500; i++) seen.insert(table.randomContact());
    EXPECT_EQ(seen.size(), 5u);
}

TEST(ContactListRules, EstimateAndSaturation) {
    // Own leaf at depth 3 with 12 contacts: 96.
    ContactList table(UniqueID(), kBucketCapacity);
    auto fill = [&](ContactList& t, std::initializer_list<unsigned> prefix, int n, unsigned from) {
        for (int i = 0; i < n; i++) {
            UniqueID id;
            for (unsigned bit : prefix) id.setBit(bit, true);
            id.setBit(from + static_cast<unsigned>(i), true);
            Node c = contact(id);
            t.add(&c);
        }
    };
    fill(table, {0}, 10, 40);     // depth 0, side 1
    fill(table, {1}, 5, 40);      // depth 1, side 1
    fill(table, {2}, 9, 40);      // depth 2, side 1
    fill(table, {}, 12, 60);      // own side from depth 3 on
    EXPECT_EQ(table.ownLeaf()->depth, 3);
    EXPECT_EQ(table.ownLeaf()->count, 12);
    EXPECT_EQ(table.estimateSize(), 96);

    // Own leaf at depth 28 with 8 contacts: 2^31, saturated.
    ContactList deep(UniqueID(), kBucketCapacity);
    fill(deep, {}, 8, 100);
    fill(deep, {27}, 20, 100);
    EXPECT_EQ(deep.ownLeaf()->depth, 28);
    EXPECT_EQ(deep.ownLeaf()->count, 8);
    EXPECT_EQ(deep.estimateSize(), INT32_MAX);
}

TEST(ContactListTexts, OwnBucketListAndTree) {
    support::CaptureUI ui;
    ContactList table(UniqueID(), kBucketCapacity);
    for (int i = 0; i < 21; i++) {
        Node c = makeNode(withBits({static_cast<unsigned>(i % 2), 20u + static_cast<unsigned>(i)}), "10.0.0.7", 4672);
        table.add(&c);
    }
    ui.clear();
    table.printOwnBucket();
    EXPECT_EQ(ui.text(), "Bucket Depth: 1, Nodes in Bucket: 10\n");
    ui.clear();
    table.list(3);
    std::vector<std::string> lines = ui.printed();
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "10 (3) contacts");
    EXPECT_EQ(lines[1].substr(0, 19), "0) 10.0.0.7:4672 (4");
    ui.clear();
    table.dumpTree();
    EXPECT_EQ(ui.text(), "*******************\n/\\(0)==10*(1)==11*******************\n");
}

}  // namespace

// ContactList: the routing table, a tree of buckets over the identifier
// bits rooted in one bucket that starts as the own-side leaf. It tells
// which contacts are nearest to an identifier, supplies random contacts,
// counts missed replies (the fifth drops a contact) and estimates the size
// of the network from the depth and fill of the own bucket.
//
// nearest and allContacts hand out the table's own nodes: callers copy
// what they keep and drop the pointers before the table changes.
#pragma once

#include <cstdint>

#include "overlay/routing/bucket.h"

class LL;

// Contacts a bucket holds before it splits or replaces.
constexpr int kBucketCapacity = 20;
// Misses after which a contact is dropped (the fifth).
constexpr int kMaxMisses = 4;

class ContactList {
public:
    ContactList(const UniqueID& ownId, int capacity);
    virtual ~ContactList() = default;
    ContactList(const ContactList&) = delete;
    ContactList& operator=(const ContactList&) = delete;

    // Offers a contact. Ignored unless the address is above 0x00FFFFFF and
    // the id is neither zero nor the own id.
    void add(const Node* node);
    // Removes the contact with the node's id; true when there was one.
    bool remove(const Node* node);
    // One missed reply for the contact with the node's id; true when this
    // miss dropped it.
    bool miss(const Node* node);
    // Appends up to n of the contacts nearest to the target (not sorted
    // among themselves); returns how many.
    int nearest(const UniqueID& target, int n, LL* out);
    // Appends every contact: child1's subtree, child0's, then the bucket's
    // own list, recursively.
    void allContacts(LL* out);
    // A uniformly drawn contact; null for an empty table.
    Node* randomContact();
    // 2^depth x count of the own leaf, truncated; saturated at INT32_MAX.
    int32_t estimateSize();

    // "Bucket Depth: %d, Nodes in Bucket: %d" of the own leaf.
    void printOwnBucket();
    // "%d (%d) contacts" (own leaf's count, nodes under recheck), then each
    // contact of the own leaf.
    void list(int recheckCount);
    void dumpTree();

    Bucket* root() { return &root_; }
    Bucket* ownLeaf() { return root_.leaf(ownId_); }
    const UniqueID& ownId() const { return ownId_; }
    // Contacts in the whole table.
    int size();

private:
    int nearestFrom(Bucket* bucket, const UniqueID& target, int n, LL* out);
    void collect(Bucket* bucket, LL* out);

    UniqueID ownId_;
    Bucket root_;
};

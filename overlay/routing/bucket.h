// Bucket: one node of the routing table's tree over the identifier bits.
// A leaf holds up to capacity contacts; only the leaf whose range holds
// the own identifier (ownSide) splits into two children, so the table
// knows many nodes near itself and at most capacity in each region
// farther away. Bit positions follow UniqueID: depth 0 tests the most
// significant bit of byte 0.
//
// Invariants: a bucket has no child or both; an inner bucket's list is
// empty and its count 0; exactly one leaf is ownSide, the leaf on the
// path of the own identifier; count equals the length of the list.
#pragma once

#include "overlay/routing/node_list.h"
#include "v4ada/containers/unique_id.h"

class Bucket {
public:
    Bucket(int capacity, int depth, Bucket* parent);
    virtual ~Bucket();
    Bucket(const Bucket&) = delete;
    Bucket& operator=(const Bucket&) = delete;

    // From this bucket down the children on the id's side to the bucket
    // where that child is missing.
    Bucket* leaf(const UniqueID& id);
    // Offers a contact to this bucket: a known id takes the new address
    // (its misses stay); otherwise it is added while there is room, added
    // with a split on the own side, or offered to replaceWorst.
    void addHere(const Node* node);
    void split();
    // The contact with the most misses (the later one among equals) gives
    // way to the node, when the node has fewer misses.
    void replaceWorst(const Node* node);
    // Removes the contact with the node's id from this leaf; an own-side
    // leaf left with 3 or fewer contacts makes its parent merge.
    bool remove(const Node* node);
    // Takes the contacts of both children back into this bucket.
    void merge();
    void setOwnId(const UniqueID& id);
    // The tree as text through the output gateway.
    void dump();

    Bucket* child0 = nullptr;
    Bucket* child1 = nullptr;
    Bucket* parent;
    int capacity;
    UniqueID ownId;
    bool ownSide = false;
    int depth;
    int count = 0;
    NodeList contacts;

private:
    void indent();
};

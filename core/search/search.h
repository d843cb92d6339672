// Search: a query, a keyword and a tree of search nodes. The overlay turns
// a query into a keyword search by taking its keyword out of the tree; the
// rest of the tree travels with it and is evaluated by the index nodes.
//
// Queries are reference counted: builders create them with count 0, every
// holder calls addRef, and the last release deletes the query and its
// tree. The tree belongs to the query alone.
#pragma once

#include <cstdint>

#include "core/meta/ref_counter.h"
#include "v4ada/string/owned_string.h"

class SearchNode;
class i4_file;

class Search : public RefCounter {
public:
    Search() = default;
    ~Search() override;

    // With no tree the node becomes the root; otherwise the root becomes
    // SN_Compound (op, old root, node). Takes the node over.
    void add(SearchNode* node, uint8_t op);
    // The root's wire form; false without a root or when it cannot be
    // written.
    virtual bool toNetwork(i4_file* file);
    // Replaces the tree (and empties the keyword) with one node tree read
    // from the stream; true when one was read.
    virtual bool fromNetwork(i4_file* file);
    // The root's wire size; 0 without a root.
    virtual int wireSize();
    // Deletes the tree and empties the keyword.
    void reset();
    // Takes the keyword out of the tree when none is set yet: the first
    // word of the leftmost text reachable through AND compounds. A tree
    // left empty becomes SN_MatchAll. Returns the keyword ("" when the
    // tree held no word).
    const OwnedString& takeKeyword();

    const OwnedString& keyword() const { return keyword_; }
    void setKeyword(const char* keyword) { keyword_ = keyword; }
    SearchNode* root() const { return root_; }

private:
    OwnedString keyword_;
    SearchNode* root_ = nullptr;
};

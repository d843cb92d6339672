// ServiceSearch: an overlay search: the key searched (the MD4 of the
// lower-cased keyword for a keyword search), an optional tree that the
// answering node applies to the tags of each entry, the index of the first
// entry to consider and the most results wanted.
//
// Wire form (payload of INODE_SEARCH):
//   0   16  key
//   16   1  1 when a search tree follows, else 0
//   17  ..  the search tree in its wire form (search_node.h), only when 1
//   then 2  start, u16
//   then 2  max, u16
#pragma once

#include <cstdint>

#include "core/search/search.h"
#include "v4ada/containers/unique_id.h"

class Meta;

// The wire form without a tree.
constexpr int kServiceSearchFixedSize = 16 + 1 + 2 + 2;
constexpr int kServiceSearchDefaultMax = 100;

class ServiceSearch : public Search {
public:
    // A search read from the wire with read.
    ServiceSearch() = default;
    // A keyword search: the text is lower-cased (A to Z) and kept; the key
    // is the MD4 of its bytes.
    explicit ServiceSearch(const char* keyword);
    // A search for a key, without keyword or tree.
    explicit ServiceSearch(const UniqueID& key);

    // The keyword, lower-cased (A to Z), becomes the search's keyword and
    // its MD4 the key; the tree stays.
    void searchKeyword(const char* keyword);

    // False when the tree cannot be written.
    bool write(i4_file* file);
    // False when the form does not read whole (a tree that does not read
    // included); the search is then not to be answered.
    bool read(i4_file* file);
    int size();

    bool toNetwork(i4_file* file) override { return write(file); }
    bool fromNetwork(i4_file* file) override { return read(file); }
    int wireSize() override { return size(); }

    // No tree matches every record.
    bool matches(Meta* record);

    UniqueID key;
    int start = 0;
    int max = kServiceSearchDefaultMax;
};

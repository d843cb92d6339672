// NodeList: a list of nodes that owns them (the routing table's buckets,
// the boot list, the candidates of a lookup, the pending nodes of a
// requester, the blacklist). Nodes keep their insertion order unless the
// list is sorted. Lookups walk from the head and stop at the first hit.
//
// contact.dat, the contacts kept from one run to the next, little-endian,
// without marker, version or checksum:
//   offset 0  4           count, u32
//   offset 4  23 x count  node records (node.h), in list order
#pragma once

#include <cstdint>

#include "overlay/routing/node.h"
#include "v4ada/containers/ll.h"

constexpr const char* kContactFileName = "contact.dat";
constexpr int kContactFileHeaderSize = 4;
// Most records a contact.dat is read for; the client writes at most 500.
constexpr uint32_t kContactFileMaxNodes = 65536;

class NodeList : public LL {
public:
    NodeList() = default;
    ~NodeList() override { deleteAll(); }

    // A walk over the nodes as T (the kind the holder keeps); the list must
    // not change during the walk.
    template <class T>
    class Walk {
    public:
        class iterator {
        public:
            explicit iterator(LLNode* node) : node_(node) {}
            T* operator*() const { return static_cast<T*>(node_->element); }
            iterator& operator++() {
                node_ = node_->next;
                return *this;
            }
            bool operator!=(const iterator& other) const { return node_ != other.node_; }

        private:
            LLNode* node_;
        };
        Walk(LLNode* first, LLNode* end) : first_(first), end_(end) {}
        iterator begin() const { return iterator(first_); }
        iterator end() const { return iterator(end_); }

    private:
        LLNode* first_;
        LLNode* end_;
    };
    template <class T = Node>
    Walk<T> nodes() {
        return Walk<T>(sentinel.next, &sentinel);
    }

    // Deletes every node, then empties the list.
    void deleteAll();

    Node* findByAddress(uint32_t ip, int port);
    Node* findById(const UniqueID& id);
    Node* findById(const Node* node) { return node != nullptr ? findById(node->id) : nullptr; }
    // Unlinks and deletes the first node with the same id / address.
    bool removeById(const UniqueID& id);
    bool removeById(const Node* node) { return node != nullptr && removeById(node->id); }
    bool removeByAddress(uint32_t ip, int port);
    // Appends a copy; null adds nothing and returns null.
    Node* addCopy(const Node* node);
    // A node with the same id takes all four fields of the given node;
    // otherwise a copy is appended (put in front for addOrUpdateFront).
    Node* addOrUpdate(const Node* node);
    Node* addOrUpdateFront(const Node* node);
    // Deletes every node after the first n.
    void keepFirst(int n);

    // Nearest to the target first (isCloser); equal ids keep their order.
    void sortByDistance(const UniqueID& target);
    // Fewest misses first; equal counts keep their order.
    void sortByMisses();

    // Writes contact.dat with the first min(length, n) nodes through the
    // safe file (the old file stays when anything fails). On failure the
    // text "errorSavingNodeList" ("error saving NodeList") is printed and
    // false returned.
    bool save(const char* path, int n);
    // Appends the nodes of contact.dat. A missing file loads nothing and
    // succeeds. A file that ends before its count of records (or counts
    // more than kContactFileMaxNodes) loads the complete records before the
    // break, prints "errorLoadingNodeList" ("error loading NodeList") and
    // fails.
    bool load(const char* path);
    // The same from a contact.dat image in memory, without a message.
    bool parse(const uint8_t* bytes, i4_pos size);

private:
    Node* addOrUpdateAt(const Node* node, bool front);
    // Relinks the nodes in the order of the vector.
    template <class Less>
    void stableSort(Less less);
};

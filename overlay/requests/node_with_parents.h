// NodeWithParents: a candidate of a lookup. Its misses field holds the
// candidate's state; parents are copies of the nodes that named it in
// their answers (none for nodes taken from the own routing table).
#pragma once

#include "overlay/routing/node_list.h"

// Candidate states, kept in Node::misses.
constexpr int32_t kCandidateNew = -1;          // known, not yet asked
constexpr int32_t kCandidateWaiting = 0;       // asked with INODE_ROUTE
constexpr int32_t kCandidateGood = -2;         // answered
constexpr int32_t kCandidateDestination = -3;  // offered to the requesters
constexpr int32_t kCandidateBad = -4;          // did not answer

class NodeWithParents : public Node {
public:
    explicit NodeWithParents(const Node& node) : Node(node) {}
    NodeWithParents(const NodeWithParents&) = delete;
    NodeWithParents& operator=(const NodeWithParents&) = delete;

    int32_t state() const { return misses; }

    NodeList parents;
};

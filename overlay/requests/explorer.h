// Explorer: a lookup of the nodes nearest one target identifier. It asks
// the nearest candidates it knows for nodes nearer still (INODE_ROUTE, at
// most three requests in flight); a candidate that answered and has no
// nearer candidate new or waiting becomes a destination and is offered to
// every requester waiting for this target. A candidate that does not
// answer its route request is marked bad and reported dead to the nodes
// that named it (INODE_DEADNODE).
//
// A lookup lives while it has requesters; requesters that can make no
// more progress are ended after each step, so a lookup whose candidates
// are used up goes with its last requester.
//
// INODE_ROUTE, sent:  0  1  wanted (at most 255)  |  1  16  the target
// INODE_ROUTEREPLY, received:  see opcodes.h
// INODE_DEADNODE, sent:  0  23  the record of the candidate that did not answer
#pragma once

#include <cstdint>
#include <unordered_map>

#include "overlay/id_key.h"
#include "overlay/requests/node_with_parents.h"
#include "overlay/requests/reply_listener.h"

class FlockGateway;
class Requester;

// Requests a lookup keeps in flight.
constexpr int kExplorerInFlight = 3;
// Contacts a new lookup starts from at least.
constexpr int kExplorerMinStart = 10;
// Candidates a lookup keeps at most; farther ones never asked are dropped.
constexpr int kExplorerMaxCandidates = 1000;

class Explorer : public ReplyListener {
public:
    Explorer(FlockGateway& gateway, const UniqueID& target);
    virtual ~Explorer();
    Explorer(const Explorer&) = delete;
    Explorer& operator=(const Explorer&) = delete;

    // The lookup may be gone when these return (its last requester ended).
    void addRequester(Requester* requester);
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;
    // A route request to the node timed out.
    void timedOut(Node* node) override;
    // A requester's own request to this destination timed out: the node is
    // marked bad and skipped, not reported dead (it answered the route
    // request; a firewalled node ignores a publish).
    void destinationFailed(Node* node);

    // Unlinks the requester; true when one is left.
    bool removeRequester(Requester* requester);
    void addCandidate(const Node* node, const Node* parent);

    // A candidate is new or waiting.
    bool hasOpenCandidates() const { return open_ > 0; }

    const UniqueID& target() const { return target_; }
    int wanted() const { return wanted_; }
    NodeList& candidates() { return candidates_; }
    LL& requesters() { return requesters_; }
    NodeWithParents* findCandidate(const UniqueID& id);

private:
    void step();
    void query(NodeWithParents* candidate);
    void promote(NodeWithParents* candidate);
    void setState(NodeWithParents* candidate, int32_t state);
    void sortCandidates();
    void markBad(NodeWithParents* candidate);
    // Ends the requesters that have nothing pending when no candidate is
    // left to ask or waiting. The lookup may be gone afterwards.
    void endStalledRequesters();

    FlockGateway& gateway_;
    int wanted_ = 0;
    NodeList candidates_;
    LL requesters_;
    UniqueID target_;
    std::unordered_map<IdKey, NodeWithParents*, IdKeyHash> byId_;
    int open_ = 0;  // candidates new or waiting
};

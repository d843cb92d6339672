// SearchRequester: sends one search (INODE_SEARCH with its wire form,
// 30000 ms time-out) to the two nodes nearest its key that a lookup finds,
// or to one given node, hands every result to its callback and reports
// each node's end of answer; a node's results beyond the search's most are
// not taken (nor do they keep its request open). A node that answers with
// results and then falls silent counts as answered; one that claims to
// have stopped before the end without sending any result is blacklisted. The requester owns
// the search and the given node; the callback is not owned and must
// outlive it (the gateway's stop ends every requester).
//
// INODE_SEARCH, sent:           the search's wire form (service_search.h)
// INODE_SEARCHRESULT, received: a service's wire form (service.h)
// INODE_SEARCHEND, received:    0 16 key | 16 2 next, u16 | 18 2 total, u16
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>

#include "overlay/requests/requester.h"

class ResultCallback;
class ServiceSearch;

// Nodes a search asks, and with a given node.
constexpr int kSearchWanted = 2;
constexpr int kSearchNodeWanted = 1;

class SearchRequester : public Requester {
public:
    // Takes the search (and the node, when given) over.
    SearchRequester(FlockGateway& gateway, ServiceSearch* search, ResultCallback* callback, Node* givenNode = nullptr);
    // Tells the user interface the search is closed.
    ~SearchRequester() override;

    const char* name() override { return "SearchRequester"; }
    // The given node is asked, else the lookup for the key joined. The
    // requester may be gone when this returns.
    void start() override;
    void send(Node* node) override;
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;
    // A node that sent results counts as answered.
    void timedOut(Node* node) override;

    ServiceSearch* search() const { return search_.get(); }

private:
    NodeList responded_;
    // Results taken from each asked node (by its address): no more than
    // the search asks for, so that a node cannot flood the user interface
    // or keep the request alive by answering without end.
    std::unordered_map<uint64_t, int> taken_;
    std::unique_ptr<Node> givenNode_;
    std::unique_ptr<ServiceSearch> search_;
    ResultCallback* callback_;
};

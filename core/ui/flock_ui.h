// FlockUI: events of the overlay network for the active user interface.
// Every operation has an empty default, so a user interface overrides
// only what it shows.
#pragma once

#include <cstdint>

class Explorer;
class Node;
class NodeWithParents;
class Service;
class ServiceSearch;

class FlockUI {
public:
    virtual ~FlockUI() = default;

    // The overlay's estimates of its size.
    virtual void networkSize(int users, int files) { (void)users, (void)files; }
    // A search result that the filters let through.
    virtual void searchResult(Service* result) { (void)result; }
    virtual void searchEnd(ServiceSearch* search, Node* node, int next, int total) {
        (void)search, (void)node, (void)next, (void)total;
    }
    // A search requester going away, with the searched 16-byte identifier.
    virtual void searchClosed(const uint8_t* identifier) { (void)identifier; }
    virtual void bootDone(bool booted) { (void)booted; }
    virtual void firewalled() {}

    // Lookups.
    virtual void explorerCreated(Explorer* lookup) { (void)lookup; }
    virtual void explorerDeleted(Explorer* lookup) { (void)lookup; }
    virtual void requesterAdded(Explorer* lookup) { (void)lookup; }
    virtual void nodeTimedOut(Explorer* lookup, NodeWithParents* node) { (void)lookup, (void)node; }
    virtual void requesterRemoved(Explorer* lookup) { (void)lookup; }
    virtual void candidateAdded(Explorer* lookup, NodeWithParents* node) { (void)lookup, (void)node; }
    virtual void querySent(Explorer* lookup, Node* node) { (void)lookup, (void)node; }
    virtual void nodeGood(Explorer* lookup, NodeWithParents* node) { (void)lookup, (void)node; }
    virtual void spare14() {}
    virtual void destinationFound(Explorer* lookup, NodeWithParents* node) { (void)lookup, (void)node; }
    // A closest-nodes reply from that IPv4 value and UDP port.
    virtual void gotNodes(Explorer* lookup, uint32_t ip, int port) { (void)lookup, (void)ip, (void)port; }
    virtual void spare17() {}

    // A flag the master command "see" sets; nothing reads it.
    void setSee(bool on) { see_ = on; }
    bool see() const { return see_; }

private:
    bool see_ = false;
};

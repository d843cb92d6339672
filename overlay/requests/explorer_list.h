// ExplorerList: the running lookups, at most one per target; requesters
// for a target share its lookup. Owns the lookups.
#pragma once

#include "v4ada/containers/ll.h"

class Explorer;
class FlockGateway;
class Node;
class Requester;
class UniqueID;

class ExplorerList {
public:
    explicit ExplorerList(FlockGateway& gateway) : gateway_(gateway) {}
    // Deletes every lookup left.
    ~ExplorerList();
    ExplorerList(const ExplorerList&) = delete;
    ExplorerList& operator=(const ExplorerList&) = delete;

    // The requester joins the lookup for its target (a new one when there
    // is none). While the gateway stops, the requester is ended instead.
    void add(Requester* requester);
    // The requester leaves its lookup; a lookup left without requesters is
    // deleted.
    void remove(Requester* requester);
    // A requester's request to a destination of its lookup timed out.
    void nodeFailed(Node* node, Requester* requester);
    Explorer* find(const UniqueID& target);
    // Deletes every lookup, each ending its requesters.
    void clear();

    int count() { return list_.count(); }
    LL& lookups() { return list_; }

private:
    FlockGateway& gateway_;
    LL list_;
};

// Requester: sends one kind of request (hello, search, publish) to the
// nodes a lookup finds nearest its target until enough of them answered,
// then deletes itself. It owns itself from start on: it ends when
// successes reach wanted, when it can make no more progress (nothing
// pending and its lookup has no candidate left to ask or waiting), when
// its lookup is deleted, and at the gateway's stop. Ending is deleting:
// the destructor tells the owner what it has to (a derived class's
// destructor), leaves the lookup and cancels the requester at the reply
// server.
//
// Every requester is tracked by its gateway under a serial number, so that
// a walk that ends several can tell whether one is still alive.
#pragma once

#include <cstdint>

#include "overlay/requests/dest_callback.h"
#include "overlay/requests/reply_listener.h"
#include "overlay/routing/node_list.h"

class Explorer;
class ExplorerList;
class FlockGateway;

class Requester : public DestCallback, public ReplyListener {
public:
    Requester(FlockGateway& gateway, const UniqueID& target, int wanted);
    virtual ~Requester();
    Requester(const Requester&) = delete;
    Requester& operator=(const Requester&) = delete;

    const UniqueID& target() override { return target_; }
    // Sends the request to the node unless enough are asked or answered.
    void offer(Node* node) override;
    int remaining() override { return wanted_ - successes_; }
    void finish() override { delete this; }

    // The request to one node, through FlockReplyServer::sendRequest with
    // this requester as listener.
    virtual void send(Node* node) = 0;
    // Joins the lookup for the target. The requester may be gone when this
    // returns (an empty routing table leaves nothing to ask).
    virtual void start();
    // A pending node's time-out ran out: it leaves pending and its lookup
    // marks it bad and offers the next destination. May end the requester.
    void timedOut(Node* node) override;

    // A pending node answered: one more success. May end the requester.
    void succeeded(Node* node);

    int wanted() const { return wanted_; }
    int pendingCount() const { return pendingCount_; }
    int successes() const { return successes_; }
    bool isPending(const Node* node) { return pending_.findById(node) != nullptr; }
    uint64_t serial() const { return serial_; }

    // Set by the lookup the requester joins; null when it has none.
    Explorer* explorer() const { return explorer_; }
    void setExplorer(Explorer* explorer) { explorer_ = explorer; }

protected:
    // Ends the requester when it can make no more progress; true when it
    // did (this object is gone then).
    bool endIfStalled();

    FlockGateway& gateway_;

private:
    ExplorerList& explorers_;
    NodeList pending_;
    int wanted_;
    int pendingCount_ = 0;
    int successes_ = 0;
    UniqueID target_;
    Explorer* explorer_ = nullptr;
    uint64_t serial_;
};

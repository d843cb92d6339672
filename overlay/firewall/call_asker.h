// CallAsker: has firewalled users call this client back. When the peer
// pool wants a connection to a user with a low ID, the asker sends
// INODE_CALLREQUEST to the user's buddy, whose address it takes from the
// user's record or finds by searching the user's buddy record in the
// index. One request per buddy address is under way at a time; a buddy
// named by the user's record that fails or does not answer leads to one
// search for the buddy record, whose results are asked once more.
//
// INODE_CALLREQUEST, sent: 0 16 the user's identifier | 16 2 the own TCP door port, u16
// INODE_CALLRELAYED / INODE_CALLFAILED, received: 0 16 the user's identifier (not read)
//
// Task thread only.
#pragma once

#include <cstdint>

#include "overlay/requests/reply_listener.h"
#include "overlay/requests/result_callback.h"
#include "overlay/routing/node_list.h"

class FlockGateway;
class FlockHost;
class UserMeta;

constexpr int kCallRequestTimeoutMs = 15000;
// Requests under way at most; more are dropped.
constexpr int kAskedMax = 256;

// A buddy to ask: its address and UDP port, whether they came from an
// index search, and the user to be called back.
class AskedNode : public Node {
public:
    bool fromSearch = false;
    UniqueID userId;
};

class CallAsker : public ResultCallback, public ReplyListener {
public:
    CallAsker(FlockGateway& gateway, FlockHost& host) : gateway_(gateway), host_(host) {}
    ~CallAsker() override;
    CallAsker(const CallAsker&) = delete;
    CallAsker& operator=(const CallAsker&) = delete;

    // False without a user; otherwise the user's buddy is asked (or
    // searched for) and true returned.
    bool askForSource(UserMeta* user);
    // Sends the request to the node unless one to its address is under way
    // (ownership passes).
    void ask(AskedNode* node);
    // A buddy record ("ip" and "port") found: that buddy is asked.
    void gotResult(Service* result) override;
    void searchEnd(ServiceSearch*, Node*, int, int) override {}
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;
    void timedOut(Node* node) override;
    // Every request is forgotten (stop).
    void clear();

    int askedCount() { return asked_.count(); }

private:
    void searchBuddyRecord(const UniqueID& user);

    FlockGateway& gateway_;
    FlockHost& host_;
    NodeList asked_;
};

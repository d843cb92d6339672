// FlockHandler: the overlay's receiver on the message bus and the result
// callback of the searches the user starts. Codes: MSG_SEARCH (a
// ServiceSearch, taken over by the search), MSG_SEARCH_VIA_NODE (a
// SearchViaNode record or null; the record is freed, its search and node
// taken over), MSG_RETEST_FIREWALL (no data) and MSG_BOOT (a Meta with
// "ipStr" and "port", deleted). Results the result filter matches are
// dropped; the others, and every end of answer, go to the user interface.
#pragma once

#include "core/bus/message.h"
#include "overlay/requests/result_callback.h"

class FlockGateway;
class FlockHost;
class MessageQ;
class Node;
class ServiceSearch;

// The data of MSG_SEARCH_VIA_NODE.
struct SearchViaNode {
    Node* node;
    ServiceSearch* search;
};

class FlockHandler : public MessageHandler, public ResultCallback {
public:
    FlockHandler(FlockGateway& gateway, FlockHost& host) : gateway_(gateway), host_(host) {}

    // Takes codes 5, 7, 30 and 31 of the bus.
    void subscribe(MessageQ* bus);
    // Gives them back (only where this handler still holds them).
    void unsubscribe(MessageQ* bus);
    void handle(Message* message) override;
    void gotResult(Service* result) override;
    void searchEnd(ServiceSearch* search, Node* node, int next, int total) override;

private:
    FlockGateway& gateway_;
    FlockHost& host_;
};

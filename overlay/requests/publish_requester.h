// PublishRequester: sends one service (INODE_PUBLISH with its wire form,
// 30000 ms time-out) to the nodes a lookup finds nearest its serviceId; an
// INODE_PUBLISHACK naming that serviceId from a pending node is a success.
// Four acknowledgements are wanted; a requester that ends with fewer than
// three has its service published again at the publisher's next check.
//
// INODE_PUBLISH, sent:        the service's wire form (service.h)
// INODE_PUBLISHACK, received: 0 16 the serviceId stored
#pragma once

#include "overlay/index/service.h"
#include "overlay/requests/requester.h"

class ServicePublisher;

class PublishRequester : public Requester {
public:
    PublishRequester(FlockGateway& gateway, const Service& service, int wanted);
    ~PublishRequester() override;

    const char* name() override { return "PublishRequester"; }
    void send(Node* node) override;
    int gotReply(Node* node, int opcode, i4_ram_file_class* reader) override;

    const Service& service() const { return service_; }

private:
    ServicePublisher& publisher_;
    Service service_;
};

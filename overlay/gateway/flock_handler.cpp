#include "overlay/gateway/flock_handler.h"

#include "core/bus/message_q.h"
#include "core/filter/filter_master.h"
#include "core/filter/filter_record.h"
#include "core/meta/meta.h"
#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"

namespace {

constexpr int kCodes[] = {MSG_SEARCH, MSG_SEARCH_VIA_NODE, MSG_RETEST_FIREWALL, MSG_BOOT};

// What the result filter reads of a record: the texts of its string tags.
class MetaFilterRecord : public FilterRecord {
public:
    explicit MetaFilterRecord(const Meta& record) : record_(record) {}
    int filterTagCount() const override { return record_.tagCount(); }
    const char* filterTextAt(int index) const override {
        MetaTag* tag = record_.tagAt(index);
        if (tag == nullptr || tag->type() != kTagString) return nullptr;
        return static_cast<const char*>(tag->value());
    }

private:
    const Meta& record_;
};

}  // namespace

void FlockHandler::subscribe(MessageQ* bus) {
    if (bus == nullptr) return;
    for (int code : kCodes) bus->setHandler(this, code);
}

void FlockHandler::unsubscribe(MessageQ* bus) {
    if (bus == nullptr) return;
    for (int code : kCodes)
        if (bus->handlerOf(code) == this) bus->setHandler(nullptr, code);
}

void FlockHandler::handle(Message* message) {
    if (message == nullptr) return;
    switch (message->code) {
        case MSG_SEARCH:
            if (message->data != nullptr) gateway_.startSearch(static_cast<ServiceSearch*>(message->data), this);
            break;
        case MSG_SEARCH_VIA_NODE: {
            auto record = static_cast<SearchViaNode*>(message->data);
            if (record == nullptr) break;
            if (record->node != nullptr && record->search != nullptr) {
                gateway_.searchNode(record->node, record->search, this);
            } else {
                delete record->node;
                delete record->search;
            }
            delete record;
            break;
        }
        case MSG_RETEST_FIREWALL:
            gateway_.retestFirewall();
            break;
        case MSG_BOOT: {
            auto request = static_cast<Meta*>(message->data);
            if (request == nullptr) break;
            int32_t port = 0;
            const char* address = request->textOf("ipStr");
            if (address != nullptr && request->getIntOut("port", &port)) gateway_.bootFrom(address, port);
            delete request;
            break;
        }
        default:
            break;
    }
}

void FlockHandler::gotResult(Service* result) {
    if (result == nullptr) return;
    if (FilterMaster* filter = host_.resultFilter())
        if (filter->isFiltered(MetaFilterRecord(*result))) return;
    gateway_.ui().searchResult(result);
}

void FlockHandler::searchEnd(ServiceSearch* search, Node* node, int next, int total) {
    gateway_.ui().searchEnd(search, node, next, total);
}

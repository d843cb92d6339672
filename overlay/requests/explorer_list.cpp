#include "overlay/requests/explorer_list.h"

#include "overlay/gateway/flock_gateway.h"
#include "overlay/requests/explorer.h"
#include "overlay/requests/requester.h"

ExplorerList::~ExplorerList() { clear(); }

void ExplorerList::add(Requester* requester) {
    if (gateway_.stopping()) {
        requester->finish();
        return;
    }
    Explorer* lookup = find(requester->target());
    if (lookup == nullptr) {
        lookup = new Explorer(gateway_, requester->target());
        list_.append(lookup);
    }
    lookup->addRequester(requester);
}

void ExplorerList::remove(Requester* requester) {
    Explorer* lookup = requester->explorer();
    if (lookup == nullptr) return;
    if (lookup->removeRequester(requester)) return;
    list_.remove(lookup);
    delete lookup;
}

void ExplorerList::nodeFailed(Node* node, Requester* requester) {
    if (Explorer* lookup = requester->explorer()) lookup->destinationFailed(node);
}

Explorer* ExplorerList::find(const UniqueID& target) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&list_, &cursor)) {
        auto lookup = static_cast<Explorer*>(element);
        if (lookup->target().equals(target)) return lookup;
    }
    return nullptr;
}

void ExplorerList::clear() {
    while (void* element = list_.removeAt(0)) delete static_cast<Explorer*>(element);
}

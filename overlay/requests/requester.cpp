#include "overlay/requests/requester.h"

#include "overlay/gateway/flock_gateway.h"
#include "overlay/requests/explorer.h"
#include "overlay/requests/explorer_list.h"
#include "overlay/requests/flock_reply_server.h"

Requester::Requester(FlockGateway& gateway, const UniqueID& target, int wanted)
    : gateway_(gateway), explorers_(gateway.explorers()), wanted_(wanted) {
    target_.copy(target);
    serial_ = gateway_.trackRequester(this);
}

Requester::~Requester() {
    if (explorer_ != nullptr) explorers_.remove(this);
    if (FlockReplyServer* server = gateway_.replyServer()) server->cancelListener(this);
    gateway_.untrackRequester(serial_);
}

void Requester::start() { explorers_.add(this); }

void Requester::offer(Node* node) {
    if (node == nullptr || successes_ + pendingCount_ >= wanted_) return;
    pendingCount_++;
    Node* copy = pending_.addCopy(node);
    send(copy);
}

void Requester::succeeded(Node* node) {
    if (!pending_.removeById(node)) return;
    pendingCount_--;
    successes_++;
    if (successes_ >= wanted_) {
        delete this;
        return;
    }
    endIfStalled();
}

void Requester::timedOut(Node* node) {
    if (!pending_.removeById(node)) return;
    pendingCount_--;
    if (explorer_ != nullptr)
        explorers_.nodeFailed(node, this);  // may end this requester
    else
        endIfStalled();
}

bool Requester::endIfStalled() {
    if (pendingCount_ > 0) return false;
    if (explorer_ != nullptr && explorer_->hasOpenCandidates()) return false;
    delete this;
    return true;
}

#include "overlay/requests/explorer.h"

#include <algorithm>
#include <vector>

#include "core/net/udp_packet.h"
#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/requests/flock_server.h"
#include "overlay/requests/requester.h"
#include "overlay/routing/contact_list.h"
#include "v4ada/containers/list_iterator.h"
#include "v4ada/file/ram_file.h"

Explorer::Explorer(FlockGateway& gateway, const UniqueID& target) : gateway_(gateway) {
    target_.copy(target);
    gateway_.ui().explorerCreated(this);
}

Explorer::~Explorer() {
    if (FlockReplyServer* server = gateway_.replyServer()) server->cancelListener(this);
    // Each requester leaves the lookup before it is finished.
    std::vector<uint64_t> waiting;
    while (auto requester = static_cast<Requester*>(requesters_.removeAt(0))) {
        requester->setExplorer(nullptr);
        waiting.push_back(requester->serial());
    }
    for (uint64_t serial : waiting)
        if (Requester* requester = gateway_.liveRequester(serial)) requester->finish();
    gateway_.ui().explorerDeleted(this);
}

void Explorer::addRequester(Requester* requester) {
    requesters_.append(requester);
    requester->setExplorer(this);
    if (requester->remaining() > wanted_) wanted_ = requester->remaining();
    gateway_.ui().requesterAdded(this);
    if (candidates_.first() != nullptr) {
        for (NodeWithParents* candidate : candidates_.nodes<NodeWithParents>())
            if (candidate->state() == kCandidateDestination) requester->offer(candidate);
        // A requester that wants more than those before it gets more
        // destinations now.
        step();
        return;
    }
    if (ContactList* table = gateway_.contacts()) {
        LL nearest;
        table->nearest(target_, std::max(wanted_, kExplorerMinStart), &nearest);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&nearest, &cursor)) addCandidate(static_cast<Node*>(element), nullptr);
    }
    sortCandidates();
    step();
}

bool Explorer::removeRequester(Requester* requester) {
    gateway_.ui().requesterRemoved(this);
    requesters_.remove(requester);
    requester->setExplorer(nullptr);
    return requesters_.first() != nullptr;
}

NodeWithParents* Explorer::findCandidate(const UniqueID& id) {
    auto found = byId_.find(idKey(id));
    return found != byId_.end() ? found->second : nullptr;
}

void Explorer::addCandidate(const Node* node, const Node* parent) {
    if (node == nullptr) return;
    if (NodeWithParents* known = findCandidate(node->id)) {
        if (parent != nullptr) known->parents.addOrUpdate(parent);
        return;
    }
    if (gateway_.isBlacklisted(node->ip, node->port)) return;
    auto candidate = new NodeWithParents(*node);
    candidate->misses = kCandidateNew;
    open_++;
    if (parent != nullptr) candidate->parents.addCopy(parent);
    candidates_.append(candidate);
    byId_[idKey(candidate->id)] = candidate;
    gateway_.ui().candidateAdded(this, candidate);
}

void Explorer::setState(NodeWithParents* candidate, int32_t state) {
    auto open = [](int32_t s) { return s == kCandidateNew || s == kCandidateWaiting; };
    if (open(candidate->misses)) open_--;
    candidate->misses = state;
    if (open(state)) open_++;
}

void Explorer::sortCandidates() {
    candidates_.sortByDistance(target_);
    if (candidates_.count() <= kExplorerMaxCandidates) return;
    ListIterator walk(&candidates_);
    walk.skip(kExplorerMaxCandidates);
    while (walk.hasMore()) {
        auto candidate = static_cast<NodeWithParents*>(walk.next());
        if (candidate->state() != kCandidateNew) continue;
        walk.removeCurrent();
        open_--;
        byId_.erase(idKey(candidate->id));
        delete candidate;
    }
}

void Explorer::step() {
    // Route requests out now, wherever their candidates stand after the
    // last sort.
    int inFlight = 0;
    for (NodeWithParents* candidate : candidates_.nodes<NodeWithParents>())
        if (candidate->state() == kCandidateWaiting) inFlight++;
    int destinations = 0;
    int nearerOpen = 0;  // candidates new or waiting before this one
    for (NodeWithParents* candidate : candidates_.nodes<NodeWithParents>()) {
        switch (candidate->state()) {
            case kCandidateWaiting:
                nearerOpen++;
                break;
            case kCandidateNew:
                if (inFlight < kExplorerInFlight) {
                    query(candidate);
                    inFlight++;
                }
                nearerOpen++;
                break;
            case kCandidateGood:
                // Only once every nearer candidate answered or failed.
                if (nearerOpen == 0) {
                    promote(candidate);
                    destinations++;
                }
                break;
            case kCandidateDestination:
                destinations++;
                break;
            default:
                break;
        }
        if (destinations >= wanted_) break;
        // Nothing more to ask, and nothing farther can become a destination.
        if (inFlight >= kExplorerInFlight && nearerOpen > 0) break;
    }
    endStalledRequesters();
}

void Explorer::query(NodeWithParents* candidate) {
    setState(candidate, kCandidateWaiting);
    gateway_.ui().querySent(this, candidate);
    FlockReplyServer* server = gateway_.replyServer();
    if (server == nullptr) return;
    UDPPacket* packet = gateway_.newPacket(candidate->ip, candidate->port, INODE_ROUTE, kRouteSize);
    PacketBuffer* out = packet->buffer();
    out->write_8(static_cast<uint8_t>(std::clamp(wanted_, 0, 255)));
    target_.write(out);
    server->sendRequest(packet, kRouteTimeoutMs, candidate, this);
}

void Explorer::promote(NodeWithParents* candidate) {
    setState(candidate, kCandidateDestination);
    gateway_.ui().destinationFound(this, candidate);
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&requesters_, &cursor)) static_cast<Requester*>(element)->offer(candidate);
}

int Explorer::gotReply(Node* node, int opcode, i4_ram_file_class* reader) {
    if (opcode != INODE_ROUTEREPLY) return 0;
    i4_pos position = reader->tell();
    if (reader->remaining() < static_cast<i4_pos>(kRouteReplyHeaderSize)) return 0;
    UniqueID about;
    about.read(reader);
    uint8_t count = reader->read_8();
    if (!about.equals(target_) || reader->remaining() < static_cast<i4_pos>(count) * kNodeRecordSize) {
        // Another lookup's answer, or one shorter than its count: not ours.
        reader->seek(position);
        return 0;
    }
    gateway_.ui().gotNodes(this, node->ip, node->port);
    for (int i = 0; i < count; i++) addCandidate(readAndOfferNode(gateway_, reader).get(), node);
    sortCandidates();
    NodeWithParents* answered = findCandidate(node->id);
    if (answered != nullptr && answered->state() == kCandidateWaiting) {
        setState(answered, kCandidateGood);
        gateway_.ui().nodeGood(this, answered);
    }
    step();  // the lookup may be gone from here on
    return 1;
}

void Explorer::markBad(NodeWithParents* candidate) {
    gateway_.ui().nodeTimedOut(this, candidate);
    setState(candidate, kCandidateBad);
}

void Explorer::timedOut(Node* node) {
    NodeWithParents* candidate = findCandidate(node->id);
    if (candidate == nullptr) return;
    Node record(*candidate);
    record.misses = 0;
    for (Node* parent : candidate->parents.nodes()) {
        UDPPacket* packet = gateway_.newPacket(parent->ip, parent->port, INODE_DEADNODE, kDeadNodeSize);
        record.write(packet->buffer());
        gateway_.send(packet);
    }
    markBad(candidate);
    step();
}

void Explorer::destinationFailed(Node* node) {
    NodeWithParents* candidate = findCandidate(node->id);
    if (candidate == nullptr) {
        endStalledRequesters();
        return;
    }
    markBad(candidate);
    step();
}

void Explorer::endStalledRequesters() {
    if (open_ > 0) return;
    std::vector<uint64_t> stalled;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&requesters_, &cursor)) {
        auto requester = static_cast<Requester*>(element);
        if (requester->pendingCount() == 0) stalled.push_back(requester->serial());
    }
    // Ending the last requester deletes this lookup: only locals from here.
    FlockGateway& gateway = gateway_;
    for (uint64_t serial : stalled)
        if (Requester* requester = gateway.liveRequester(serial)) requester->finish();
}

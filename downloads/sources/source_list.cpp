#include "downloads/sources/source_list.h"

#include "downloads/source_peer.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/time/time_value.h"

namespace {
SourceList* gList = nullptr;
}  // namespace

SourceList* SourceList::instance() { return gList; }

void SourceList::createInstance() {
    if (!gList) gList = new SourceList();
}

void SourceList::destroyInstance() {
    delete gList;
    gList = nullptr;
}

int64_t SourceList::nowMs() {
    TimeValue now;
    return now.seconds * 1000 + now.microseconds / 1000;
}

AskedSource* SourceList::find(const UserMeta* user) {
    if (user == nullptr) return nullptr;
    int64_t now = nowMs();
    for (size_t i = 0; i < entries_.size(); i++) {
        if (!entries_[i]->user.sameUser(user)) continue;
        if (fresh(*entries_[i], now)) return entries_[i].get();
        erase(i);
        return nullptr;
    }
    return nullptr;
}

void SourceList::askOnce(SourcePeer* connection, const UniqueID& hash) {
    if (connection == nullptr || connection->user() == nullptr) return;
    if (find(connection->user())) return;
    // Stale entries nobody looks up would pile up over a long run.
    int64_t now = nowMs();
    for (size_t i = entries_.size(); i-- > 0;) {
        if (!fresh(*entries_[i], now)) erase(i);
    }
    connection->sendUploadRequest(hash);
    auto entry = std::make_unique<AskedSource>();
    entry->user.assign(connection->user());
    entry->askedAt = now;
    entries_.push_back(std::move(entry));
}

void SourceList::setRank(const UserMeta* user, uint32_t rank) {
    if (AskedSource* entry = find(user)) entry->rank = rank;
}

void SourceList::remove(const UserMeta* user) {
    if (user == nullptr) return;
    for (size_t i = 0; i < entries_.size(); i++) {
        if (!entries_[i]->user.sameUser(user)) continue;
        erase(i);
        return;
    }
}

void SourceList::removeConnection(SourcePeer* connection) {
    UserMeta* user = connection ? connection->user() : nullptr;
    // A zero hash names nobody: it would take some other user's entry.
    if (user == nullptr || user->userHash().isZero()) return;
    for (size_t i = 0; i < entries_.size(); i++) {
        if (!entries_[i]->user.userHash().equals(user->userHash())) continue;
        erase(i);
        return;
    }
}

void SourceList::removeAddress(uint32_t ip, uint16_t port) {
    for (size_t i = 0; i < entries_.size(); i++) {
        if (entries_[i]->user.ip() != ip || entries_[i]->user.port() != port) continue;
        erase(i);
        return;
    }
}

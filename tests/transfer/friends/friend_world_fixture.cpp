#include "transfer/friends/friend_world_fixture.h"

#include <algorithm>

#include "core/meta/meta_list.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "core/ui/record_table.h"
#include "core/ui/ui_gateway.h"
#include "transfer/peer/client_pool.h"

namespace transfertest {

namespace {

// One line per record: its name.
void printNames(MetaList* list) {
    UIGateway* ui = currentUI();
    if (!ui || !list) return;
    for (int i = 0; i < list->count(); i++) {
        char name[256] = {0};
        list->at(i)->valueText(specialCodeName(ST_NAME), name, sizeof name);
        ui->print("record %s", name);
    }
}

}  // namespace

UserMeta highUser(const char* nickname, uint8_t host, uint16_t port, uint8_t hashByte) {
    std::string ip = "203.0.113." + std::to_string(host);
    return makeUser(nickname, ipFromText(ip.c_str()), port, hashByte);
}

void FriendWorld::SetUp() {
    PeerWorld::SetUp();
    friendObjects_.emplace(support::ProcessObjects::kFriendList | support::ProcessObjects::kMessagePool);
    friends_ = friendList();
    messages_ = messagePool();
    clientPool()->addHandler(friends_);
    clientPool()->addHandler(messages_);
    setPeerFriends(friends_);
    setPeerMessages(messages_);
    clientPool()->setDialer(&dialer_);
    setRecordTablePrinter(printNames);
}

void FriendWorld::TearDown() {
    for (Peer* peer : listed_) delete peer;
    listed_.clear();
    clientPool()->setDialer(nullptr);
    setRecordTablePrinter(nullptr);
    setPeerFriends(nullptr);
    setPeerMessages(nullptr);
    PeerWorld::TearDown();
    friendObjects_.reset();
}

Peer* FriendWorld::connectPeer(const UserMeta& user, bool persistent) {
    auto peer = new Peer(user.ip(), user.port(), persistent);
    UserMeta copy(user);
    peer->user()->assign(&copy);
    listed_.push_back(peer);
    clientPool()->addPeer(peer);
    return peer;
}

void FriendWorld::closePeer(Peer* peer) {
    listed_.erase(std::remove(listed_.begin(), listed_.end(), peer), listed_.end());
    delete peer;
}

std::vector<std::string> FriendWorld::takePrinted() {
    std::vector<std::string> all = printed();
    std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(printedSeen_, all.size())), all.end());
    printedSeen_ = all.size();
    return fresh;
}

CallLog FriendWorld::takeLog() {
    CallLog log;
    log.swap(sides_.log);
    return log;
}

}  // namespace transfertest

#include "transfer/messages/message_pool.h"

#include <atomic>

#include "core/ui/transfer_ui.h"
#include "transfer/friends/friend_list.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/peer.h"

namespace {
std::atomic<MessagePool*> gMessages{nullptr};
}  // namespace

MessagePool* MessagePool::instance() { return gMessages.load(); }

void MessagePool::createInstance() {
    if (!gMessages.load()) gMessages.store(new MessagePool());
}

void MessagePool::destroyInstance() { delete gMessages.exchange(nullptr); }

// The connections still held close with the socket pool.
MessagePool::~MessagePool() = default;

std::vector<MessageSession*> MessagePool::sessionsCopy() {
    SysMutexGuard guard(&lock_);
    std::vector<MessageSession*> copy;
    copy.reserve(sessions_.size());
    for (auto& session : sessions_) copy.push_back(session.get());
    return copy;
}

int MessagePool::sessionCount() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(sessions_.size());
}

MessageSession* MessagePool::sessionAt(int index) {
    SysMutexGuard guard(&lock_);
    if (index < 0 || static_cast<size_t>(index) >= sessions_.size()) return nullptr;
    return sessions_[static_cast<size_t>(index)].get();
}

MessageSession* MessagePool::findSession(const UserMeta* user) {
    if (!user) return nullptr;
    const bool byAddress = user->userHash().isZero();
    for (MessageSession* session : sessionsCopy()) {
        UserMeta known = session->user();
        if (byAddress) {
            if (known.ip() == user->ip() && known.port() == user->port()) return session;
        } else if (known.userHash().equals(user->userHash())) {
            return session;
        }
    }
    return nullptr;
}

void MessagePool::makeRoom() {
    std::unique_ptr<MessageSession> oldest;
    {
        SysMutexGuard guard(&lock_);
        if (sessions_.size() < static_cast<size_t>(kMaxSessions)) return;
        auto pick = sessions_.begin();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
            if ((*it)->lastUse() < (*pick)->lastUse()) pick = it;
        oldest = std::move(*pick);
        sessions_.erase(pick);
    }
    oldest->letGo();
}

MessageSession* MessagePool::openSession(const UserMeta* user) {
    if (!user) return nullptr;
    MessageSession* session = findSession(user);
    if (!session) {
        makeRoom();
        auto made = std::make_unique<MessageSession>(user);
        session = made.get();
        SysMutexGuard guard(&lock_);
        sessions_.push_back(std::move(made));
    }
    session->setLastUse(++lastUse_);
    session->startSession();
    return session;
}

bool MessagePool::gotMessage(UserMeta* user, const char* text) {
    if (!user) return false;
    if (!findSession(user)) {
        TransferOptions* options = transferOptions();
        int allow = options ? options->pmAllow() : kAllowEveryone;
        FriendList* friends = friendList();
        bool isFriend = friends && friends->findByHash(user->userHash());
        if (allow == kAllowNobody || (allow == kAllowFriends && !isFriend)) return false;
    }
    MessageSession* session = openSession(user);
    if (TransferUI* ui = currentTransferUI()) ui->gotMessage(session, text ? text : "");
    return true;
}

void MessagePool::notAcceptingCalls(UserMeta* user) {
    if (!user) return;
    for (MessageSession* session : sessionsCopy()) {
        if (!session->matches(user)) continue;
        session->setState(MessageSession::kUnreachable);
        if (TransferUI* ui = currentTransferUI()) ui->gotMessage(session, kNotAcceptingCallsText);
        session->changeState(MessageSession::kUnreachable);
    }
}

void MessagePool::newPeer(TCPConnection* connection) {
    auto* peer = static_cast<Peer*>(connection);
    for (MessageSession* session : sessionsCopy()) session->gotCall(peer);
}

void MessagePool::peerClosed(TCPConnection* connection) {
    auto* peer = static_cast<Peer*>(connection);
    for (MessageSession* session : sessionsCopy()) session->peerClosed(peer);
}

void MessagePool::connectFailed(uint32_t ip, uint16_t port) {
    for (MessageSession* session : sessionsCopy()) {
        UserMeta known = session->user();
        if (known.ip() == ip && known.port() == port) session->changeState(MessageSession::kUnreachable);
    }
}

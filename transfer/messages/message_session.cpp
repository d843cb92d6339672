#include "transfer/messages/message_session.h"

#include "core/ui/transfer_ui.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

MessageSession::MessageSession(const UserMeta* user) { user_.assign(user); }

UserMeta MessageSession::user() {
    SysMutexGuard guard(&lock_);
    return user_;
}

Peer* MessageSession::connection() {
    SysMutexGuard guard(&lock_);
    return connection_;
}

bool MessageSession::matches(const UserMeta* record) {
    if (!record) return false;
    SysMutexGuard guard(&lock_);
    if (user_.isLowId()) {
        if (record->ip() == user_.ip() && record->buddyIp() == user_.buddyIp()) return true;
    } else if (record->ip() == user_.ip() && record->port() == user_.port()) {
        return true;
    }
    return !user_.userHash().isZero() && user_.userHash().equals(record->userHash());
}

void MessageSession::letGo() {
    Peer* peer = nullptr;
    {
        SysMutexGuard guard(&lock_);
        peer = connection_;
        connection_ = nullptr;
    }
    if (peer) peer->release(kStartTag);
}

void MessageSession::changeState(int state) {
    state_.store(state);
    if (TransferUI* ui = currentTransferUI()) ui->sessionChanged(this);
}

void MessageSession::startSession() {
    ClientPool* pool = clientPool();
    if (!pool) {
        state_.store(kUnreachable);
        return;
    }
    UserMeta target = user();
    Peer* peer = nullptr;
    int result = pool->connect(&target, &peer, false);
    if (result == ClientPool::kConnected && peer) {
        SysMutexGuard guard(&lock_);
        // One use per session: opening it again on the same connection
        // takes no second one.
        if (connection_ != peer) {
            if (connection_) connection_->release(kStartTag);
            peer->addRef(kStartTag);
            connection_ = peer;
        }
        user_.assign(peer->user());
        state_.store(kConnected);
    } else if (result == ClientPool::kConnecting) {
        state_.store(kConnecting);
    } else {
        state_.store(kUnreachable);
    }
}

void MessageSession::gotCall(Peer* peer) {
    if (!peer || state_.load() != kConnecting || !matches(peer->user())) return;
    {
        SysMutexGuard guard(&lock_);
        connection_ = peer;
        peer->addRef(kCallTag);
        user_.assign(peer->user());
    }
    changeState(kConnected);
}

void MessageSession::peerClosed(Peer* peer) {
    {
        SysMutexGuard guard(&lock_);
        if (!peer || peer != connection_) return;
        connection_ = nullptr;
    }
    changeState(kClosed);
}

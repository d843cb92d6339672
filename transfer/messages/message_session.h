// MessageSession: the private-message session with one user. It holds one
// use of a connection to that user while connected and follows the
// connection's fate; its state tells the user interfaces where it stands.
//
// Threads: everything runs on the task thread; the lock guards the
// connection and the user record for readers in the user interfaces.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/meta/user_meta.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Peer;

class MessageSession {
public:
    // Session states.
    static constexpr int kConnected = 0;
    static constexpr int kConnecting = 1;  // a new session
    static constexpr int kUnreachable = 3;  // no route, connect failed, or calls refused
    static constexpr int kClosed = 4;       // its connection closed

    // Holder tags of the connection's use.
    static constexpr const char* kStartTag = "MessageSession::startSession";
    static constexpr const char* kCallTag = "MessageSession::gotCall";

    // A copy of the whole record.
    explicit MessageSession(const UserMeta* user);
    MessageSession(const MessageSession&) = delete;
    MessageSession& operator=(const MessageSession&) = delete;

    // Connects to the user through the peer pool: at once when a
    // connection exists (state 0), else state 1 until gotCall, or 3 when
    // the user cannot be reached.
    void startSession();
    // In state 1 only: a connection of this session's user completes the
    // session (state 0, one use held, the record taken from the
    // connection), then TransferUI::sessionChanged.
    void gotCall(Peer* peer);
    // Its connection closes: state 4, then TransferUI::sessionChanged.
    void peerClosed(Peer* peer);
    // Sets the state and tells TransferUI::sessionChanged.
    void changeState(int state);
    // Sets the state without telling anyone.
    void setState(int state) { state_.store(state); }

    // Whether the record is this session's user: the same high-ID address
    // and port, the same low-ID address behind the same buddy, or the same
    // user hash when it is known (not all zero).
    bool matches(const UserMeta* record);

    // Gives back the use of its connection, if it holds one; the session
    // is about to be removed.
    void letGo();
    // The pool's stamp of the session's last use (larger is more recent).
    uint64_t lastUse() const { return lastUse_; }
    void setLastUse(uint64_t stamp) { lastUse_ = stamp; }

    int state() const { return state_.load(); }
    // A copy of the user record.
    UserMeta user();
    Peer* connection();

private:
    SysMutex lock_;  // connection_ and user_
    Peer* connection_ TS_GUARDED_BY(lock_) = nullptr;
    std::atomic<int> state_{kConnecting};
    UserMeta user_ TS_GUARDED_BY(lock_);
    uint64_t lastUse_ = 0;  // task thread only
};

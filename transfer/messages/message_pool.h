// MessagePool: one private-message session per user. A session opens when
// the user asks for one (the console's "message", bus code 22) or when a
// message arrives from a user that the "pmAllow" option lets through
// (0 everyone, 1 friends only, 2 nobody; a user with a session always
// passes). Texts and session changes go to TransferUI::gotMessage and
// sessionChanged; this client sends no texts.
//
// At most kMaxSessions sessions are kept: opening one more first removes
// the session whose last message or opening is the oldest, giving back its
// connection. The process-wide pool is made and destroyed explicitly
// (createInstance / destroyInstance); while it exists start-up registers
// it with the peer pool and installs it as the peer protocol's messages.
//
// Threads: everything runs on the task thread; the session list is locked
// and no lock is held across a call into a session.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/net/peer_event_handler.h"
#include "transfer/messages/message_session.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/threads/linux/sys_mutex.h"

// What a session shows when its user refuses this client's messages.
constexpr const char* kNotAcceptingCallsText = "Is not accepting calls.";

class MessagePool : public PeerEventHandler, public PeerMessages {
public:
    // "pmAllow" values.
    static constexpr int kAllowEveryone = 0;
    static constexpr int kAllowFriends = 1;
    static constexpr int kAllowNobody = 2;
    static constexpr int kMaxSessions = 100;

    MessagePool() = default;
    virtual ~MessagePool();
    MessagePool(const MessagePool&) = delete;
    MessagePool& operator=(const MessagePool&) = delete;

    static MessagePool* instance();
    // Keeps an existing pool.
    static void createInstance();
    static void destroyInstance();

    // The user's session, or a new one appended (the longest idle one
    // removed when the pool is full); either way it is started (connected
    // again when needed) and counts as just used.
    MessageSession* openSession(const UserMeta* user);
    // A user of unknown hash (all zero): the first session of the same IP
    // and port; otherwise the first session of the same user hash.
    MessageSession* findSession(const UserMeta* user);
    int sessionCount();
    MessageSession* sessionAt(int index);

    // PeerMessages.
    bool gotMessage(UserMeta* user, const char* text) override;
    void notAcceptingCalls(UserMeta* user) override;

    // PeerEventHandler.
    void peerClosed(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;
    void newPeer(TCPConnection* connection) override;

private:
    std::vector<MessageSession*> sessionsCopy();
    // Removes the session used longest ago when the pool is full.
    void makeRoom();

    SysMutex lock_;  // sessions_
    std::vector<std::unique_ptr<MessageSession>> sessions_ TS_GUARDED_BY(lock_);
    uint64_t lastUse_ = 0;  // stamps the sessions' uses in order
};

inline MessagePool* messagePool() { return MessagePool::instance(); }

// Private messages: the "pmAllow" filter, finding sessions, session states
// through the peer pool's events, and which callers complete a session.
#include <gtest/gtest.h>

#include "core/bus/message_q.h"
#include "core/net/ip_text.h"
#include "transfer/friends/friend_world_fixture.h"
#include "transfer/options/transfer_options.h"

namespace transfertest {
namespace {

class MessagePoolTest : public FriendWorld {};

TEST_F(MessagePoolTest, PmAllowLetsThroughByFriendshipAndSession) {
    enum Sender { kFriend, kStranger, kSessionUser };
    struct Case {
        int allow;
        Sender sender;
        bool accepted;
    } cases[] = {
        {0, kFriend, true},  {0, kStranger, true},  {0, kSessionUser, true},
        {1, kFriend, true},  {1, kStranger, false}, {1, kSessionUser, true},
        {2, kFriend, false}, {2, kStranger, false}, {2, kSessionUser, true},
    };
    uint8_t next = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pmAllow " << c.allow << " sender " << c.sender);
        UserMeta sender = highUser("s", next, 4662, next);
        next++;
        if (c.sender == kFriend) friends_->addFriend(&sender);
        if (c.sender == kSessionUser) messages_->openSession(&sender);
        transferOptions()->setPmAllow(c.allow);
        int before = messages_->sessionCount();
        takeLog();
        EXPECT_EQ(messages_->gotMessage(&sender, "hi"), c.accepted);
        CallLog log = takeLog();
        if (c.accepted) {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_EQ(log[0].substr(log[0].size() - 2), "hi");
            EXPECT_EQ(messages_->findSession(&sender), sides_.transferUI.lastSession);
            EXPECT_EQ(messages_->sessionCount(), before + (c.sender == kSessionUser ? 0 : 1));
        } else {
            EXPECT_EQ(log, CallLog{});
            EXPECT_EQ(messages_->sessionCount(), before);
        }
    }
}

TEST_F(MessagePoolTest, SessionsFoundByAddressUntilTheHashIsKnown) {
    UserMeta byAddress = highUser("?", 1, 40000, 0);
    MessageSession* session = messages_->openSession(&byAddress);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->state(), MessageSession::kConnecting);
    ASSERT_EQ(dialer_.dialed.size(), 1u);
    EXPECT_EQ(messages_->findSession(&byAddress), session);
    UserMeta otherPort = highUser("?", 1, 40001, 0);
    EXPECT_EQ(messages_->findSession(&otherPort), nullptr);
    // A known hash is looked up by hash only.
    UserMeta amy = highUser("amy", 1, 40000, 0x21);
    EXPECT_EQ(messages_->findSession(&amy), nullptr);

    // The call completes the session with the whole record of the caller.
    takeLog();
    Peer* peer = connectPeer(amy);
    EXPECT_EQ(session->state(), MessageSession::kConnected);
    EXPECT_EQ(session->connection(), peer);
    EXPECT_EQ(peer->useCount(), 1);
    EXPECT_EQ(takeLog(), (CallLog{"peerConnected amy", "sessionChanged 0"}));
    UserMeta moved = highUser("amy", 9, 4662, 0x21);
    EXPECT_EQ(messages_->findSession(&moved), session);
    EXPECT_STREQ(session->user().nickname(), "amy");
    // Opening it again takes no second use.
    EXPECT_EQ(messages_->openSession(&amy), session);
    EXPECT_EQ(peer->useCount(), 1);
    EXPECT_EQ(messages_->sessionCount(), 1);
}

TEST_F(MessagePoolTest, RefusalFailureAndCloseSetTheSessionState) {
    // Ports from 32768 on compare as 16-bit values.
    UserMeta amy = highUser("amy", 1, 40000, 0x21);
    UserMeta bob = highUser("bob", 2, 40001, 0x22);
    UserMeta cyd = highUser("cyd", 3, 40002, 0x23);
    Peer* amyPeer = connectPeer(amy);
    MessageSession* amySession = messages_->openSession(&amy);
    MessageSession* bobSession = messages_->openSession(&bob);
    Peer* cydPeer = connectPeer(cyd);
    MessageSession* cydSession = messages_->openSession(&cyd);
    EXPECT_EQ(amySession->state(), MessageSession::kConnected);
    EXPECT_EQ(bobSession->state(), MessageSession::kConnecting);
    takeLog();

    messages_->notAcceptingCalls(amyPeer->user());
    EXPECT_EQ(amySession->state(), MessageSession::kUnreachable);
    EXPECT_EQ(takeLog(), (CallLog{"gotMessage 3 Is not accepting calls.", "sessionChanged 3"}));

    messages_->connectFailed(bob.ip(), 40001);
    EXPECT_EQ(bobSession->state(), MessageSession::kUnreachable);
    EXPECT_EQ(takeLog(), (CallLog{"sessionChanged 3"}));
    messages_->connectFailed(bob.ip(), 40002);
    EXPECT_EQ(takeLog(), CallLog{});

    closePeer(cydPeer);
    EXPECT_EQ(cydSession->state(), MessageSession::kClosed);
    EXPECT_EQ(cydSession->connection(), nullptr);
    EXPECT_EQ(takeLog(), (CallLog{"peerDisconnected cyd", "sessionChanged 4"}));

    // A new message after the close reconnects the session.
    transferOptions()->setPmAllow(MessagePool::kAllowNobody);
    Peer* again = connectPeer(cyd);
    EXPECT_EQ(cydSession->state(), MessageSession::kClosed);  // not waiting for a call
    EXPECT_TRUE(messages_->gotMessage(again->user(), "back"));
    EXPECT_EQ(cydSession->state(), MessageSession::kConnected);
    EXPECT_EQ(cydSession->connection(), again);
    EXPECT_EQ(again->useCount(), 1);
}

TEST_F(MessagePoolTest, OnlyTheSessionsUserCompletesIt) {
    const uint32_t high = ipFromText("203.0.113.1");
    const uint32_t low = 7;
    const uint32_t buddy = ipFromText("192.0.2.9");
    auto user = [](uint32_t ip, uint16_t port, uint32_t buddyIp, uint8_t hash) {
        UserMeta record = makeUser("u", ip, port, hash);
        record.setBuddyIp(buddyIp);
        return record;
    };
    struct Case {
        const char* what;
        UserMeta session;
        UserMeta caller;
        bool matches;
    } cases[] = {
        {"same high address and port", user(high, 4662, 0, 0), user(high, 4662, 0, 0x31), true},
        {"same high address, other port", user(high, 4662, 0, 0), user(high, 4663, 0, 0), false},
        {"unknown hashes on both sides", user(high, 4662, 0, 0), user(high + 1, 4662, 0, 0), false},
        {"same known hash elsewhere", user(high, 4662, 0, 0x31), user(high + 1, 1, 0, 0x31), true},
        {"low ID behind the same buddy", user(low, 4662, buddy, 0), user(low, 1, buddy, 0), true},
        {"low ID behind another buddy", user(low, 4662, buddy, 0), user(low, 4662, buddy + 1, 0), false},
    };
    for (const Case& c : cases) {
        MessageSession session(&c.session);
        EXPECT_EQ(session.matches(&c.caller), c.matches) << c.what;
    }

    // Through the pool: a caller of unknown hash from elsewhere leaves a
    // session of unknown hash waiting.
    UserMeta waiting = user(high, 4662, 0, 0);
    MessageSession* session = messages_->openSession(&waiting);
    connectPeer(user(high + 1, 4662, 0, 0));
    EXPECT_EQ(session->state(), MessageSession::kConnecting);
    EXPECT_EQ(session->connection(), nullptr);
}

TEST_F(MessagePoolTest, ManySendersKeepTheSessionsBoundedDroppingTheLongestIdle) {
    transferOptions()->setPmAllow(MessagePool::kAllowEveryone);
    auto sender = [](int n) { return highUser("s", static_cast<uint8_t>(n), 4662, static_cast<uint8_t>(n)); };
    // The first sender is connected: its session holds a use of the peer.
    UserMeta first = sender(1);
    Peer* firstPeer = connectPeer(first);
    ASSERT_TRUE(messages_->gotMessage(&first, "one"));
    EXPECT_EQ(firstPeer->useCount(), 1);
    for (int n = 2; n <= MessagePool::kMaxSessions; n++) {
        UserMeta next = sender(n);
        ASSERT_TRUE(messages_->gotMessage(&next, "hi"));
    }
    ASSERT_EQ(messages_->sessionCount(), MessagePool::kMaxSessions);
    // The second speaks again: now the third is the longest idle after the first.
    UserMeta second = sender(2);
    ASSERT_TRUE(messages_->gotMessage(&second, "again"));

    UserMeta newcomer = sender(MessagePool::kMaxSessions + 1);
    ASSERT_TRUE(messages_->gotMessage(&newcomer, "new"));
    EXPECT_EQ(messages_->sessionCount(), MessagePool::kMaxSessions);
    EXPECT_EQ(messages_->findSession(&first), nullptr);
    EXPECT_EQ(firstPeer->useCount(), 0);
    EXPECT_NE(messages_->findSession(&newcomer), nullptr);

    UserMeta later = sender(MessagePool::kMaxSessions + 2);
    ASSERT_TRUE(messages_->gotMessage(&later, "later"));
    UserMeta third = sender(3);
    EXPECT_EQ(messages_->findSession(&third), nullptr);
    EXPECT_NE(messages_->findSession(&second), nullptr);
    EXPECT_EQ(messages_->sessionCount(), MessagePool::kMaxSessions);
}

TEST_F(MessagePoolTest, BusCodeOpensASession) {
    UserMeta amy = highUser("amy", 1, 4662, 0x21);
    Peer* peer = connectPeer(amy);
    takeLog();
    messageQ->post(MSG_PRIVATE_MESSAGE, new UserMeta(amy));
    step();
    ASSERT_EQ(messages_->sessionCount(), 1);
    EXPECT_EQ(messages_->sessionAt(0)->connection(), peer);
    EXPECT_EQ(takeLog(), (CallLog{"sessionChanged 0"}));
}

}  // namespace
}  // namespace transfertest

// The hello exchange, refusals, idle time-out and keep, over loopback
// sockets with the core's pool stepped on a manual clock.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/net/check_trailer.h"
#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_world_fixture.h"
#include "support/loopback.h"

namespace transfertest {
namespace {

using PeerHello = PeerWorld;

const uint32_t kLoopback = ipFromText("127.0.0.1");

TEST_F(PeerHello, AnswerCarriesOurRecordAndACodeForOurDoorPort) {
    std::unique_ptr<FrameClient> client;
    UserMeta alice = makeUser("alice", 0, 40000, 7);
    Peer* peer = acceptHello(&client, alice);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(awaitFrames(*client, 1));
    const Frame& answer = client->frames[0];
    EXPECT_EQ(answer.opcode, ICLT_HELLO_ANSWER);
    int m = coreOptions()->ownMetaSize();
    EXPECT_EQ(answer.payload.size() + 1, static_cast<size_t>(m + kHelloAnswerExtra));
    EXPECT_TRUE(codeVerifies(ICLT_HELLO_ANSWER, answer.payload, transferOptions()->doorPort()));
    EXPECT_FALSE(codeVerifies(ICLT_HELLO_ANSWER, answer.payload, transferOptions()->doorPort() + 1));
    // Our record, with its in-memory mark, and the buddy fields.
    UserMeta ours;
    std::string body = answer.payload;
    i4_ram_file_class reader(body.data(), static_cast<i4_pos>(body.size()), 0);
    ASSERT_TRUE(ours.fromNetwork(&reader));
    EXPECT_TRUE(ours.userHash().equals(coreOptions()->ownUserMeta()->userHash()));
    EXPECT_EQ(ours.getInt("pr"), 1);
    EXPECT_EQ(reader.read_32(), sides_.gateway.buddy);
    // The sender: verified, its IP 0 replaced by the socket's address.
    EXPECT_EQ(peer->user()->helloVerified(), 1);
    EXPECT_EQ(peer->user()->ip(), kLoopback);
    EXPECT_EQ(peer->remoteIp(), kLoopback);
    EXPECT_EQ(std::string(peer->name()), "alice");
    EXPECT_EQ(events_, CallLog{"h.newPeer"});
}

TEST_F(PeerHello, OutgoingHelloIsAnsweredAndJoinsThePool) {
    // Our connected() hello, read by a peer object of our own on the other
    // side of a loopback pair.
    std::unique_ptr<FrameClient> client;
    Peer* peer = accept(&client);
    ASSERT_NE(peer, nullptr);
    peer->connected();
    ASSERT_TRUE(awaitFrames(*client, 1));
    const Frame& hello = client->frames[0];
    EXPECT_EQ(hello.opcode, ICLT_HELLO);
    EXPECT_EQ(hello.payload[0], 16);
    EXPECT_EQ(hello.payload.size() + 1, static_cast<size_t>(coreOptions()->ownMetaSize() + kHelloExtra));
    EXPECT_TRUE(codeVerifies(ICLT_HELLO, hello.payload, transferOptions()->doorPort()));
    // The answer completes it: no same-user check, the pool lists it.
    UserMeta bob = makeUser("bob", kLoopback, 4000, 9);
    client->send(ICLT_HELLO_ANSWER, helloPayload(bob, 0, 0, false, true));
    ASSERT_TRUE(stepUntil([&] { return clientPool()->contains(peer); }));
    EXPECT_EQ(peer->user()->helloVerified(), 1);
    // A repeated answer only re-reads the fields.
    client->send(ICLT_HELLO_ANSWER, helloPayload(bob, 0, 0, false, false));
    ASSERT_TRUE(stepUntil([&] { return peer->user()->helloVerified() == 0; }));
    EXPECT_EQ(events_, CallLog{"h.newPeer"});
}

TEST_F(PeerHello, WrongOrMissingCodeStillCompletesUnverified) {
    struct Case {
        bool rightCode;
        int codeBytes;
    };
    for (Case c : {Case{false, 4}, Case{true, 3}, Case{true, 0}}) {
        std::unique_ptr<FrameClient> client;
        Peer* peer = accept(&client);
        ASSERT_NE(peer, nullptr);
        UserMeta carol = makeUser("carol", 0, 4001, static_cast<uint8_t>(20 + c.codeBytes));
        client->send(ICLT_HELLO, helloPayload(carol, 0, 0, true, c.rightCode, c.codeBytes));
        ASSERT_TRUE(stepUntil([&] { return clientPool()->contains(peer); }));
        EXPECT_EQ(peer->user()->helloVerified(), 0);
        OwnedString status;
        EXPECT_NE(std::string(peer->status(status)).find(" [0] keep: 0"), std::string::npos) << status.c_str();
    }
}

TEST_F(PeerHello, ClaimedHighIdOtherThanTheSocketDrawsAddressMismatch) {
    std::unique_ptr<FrameClient> client;
    UserMeta dave = makeUser("dave", ipFromText("192.0.2.7"), 4662, 3);
    Peer* peer = acceptHello(&client, dave);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(awaitFrames(*client, 2));
    EXPECT_EQ(client->frames[0].opcode, ICLT_HELLO_ANSWER);
    EXPECT_EQ(client->frames[1].opcode, ICLT_ADDRESS_MISMATCH);
    EXPECT_EQ(peer->user()->ip(), ipFromText("192.0.2.7"));
    // The socket's own address draws nothing.
    std::unique_ptr<FrameClient> other;
    ASSERT_NE(acceptHello(&other, makeUser("erin", kLoopback, 4663, 4)), nullptr);
    ASSERT_TRUE(awaitFrames(*other, 1));
    for (int i = 0; i < 5; i++) step();
    other->poll();
    EXPECT_EQ(other->frames.size(), 1u);
}

// A user record with `count` small integer tags besides its name.
UserMeta userWithTags(const char* nickname, uint8_t hashByte, int count) {
    UserMeta user = makeUser(nickname, 0, 4100, hashByte);
    for (int32_t i = 0; i < count; i++) user.set(("t" + std::to_string(i)).c_str(), &i, kTagInt);
    return user;
}

TEST_F(PeerHello, RefusedFirstMessagesDropTheConnection) {
    UserMeta frank = makeUser("frank", 0, 4100, 11);
    std::string wrongSize = helloPayload(frank, 0, 0, true, true);
    wrongSize[0] = 17;
    // Tag counts and sizes a peer may not send, each well inside a frame.
    UserMeta manyTags = userWithTags("many", 31, kPeerUserMaxTags);  // the name makes one more
    // One string tag "n" longer than the tag bytes allowed (a record of
    // ours never holds one, so it is written out here).
    using support::le16s;
    using support::le32s;
    std::string bulky = std::string("\x10", 1) + std::string(16, '\x20') + le32s(0) + le16s(4100) + le32s(1) +
                        std::string("\x02", 1) + le16s(1) + "n" + le16s(kPeerUserMaxTagBytes) +
                        std::string(kPeerUserMaxTagBytes, 'n') + le32s(0) + le16s(0);
    struct Case {
        const char* what;
        uint8_t opcode;
        std::string payload;
        std::string raw;  // sent instead when not empty
    } cases[] = {
        {"ping first", ICLT_PING, "", ""},
        {"size byte 17", ICLT_HELLO, wrongSize, ""},
        {"record cut short", ICLT_HELLO, std::string("\x10", 1) + std::string(10, '\0'), ""},
        {"tags above the cap", ICLT_HELLO, helloPayload(manyTags, 0, 0, true, true), ""},
        {"tag bytes above the cap", ICLT_HELLO, bulky, ""},
        // Only the header of a frame longer than a hello may be: refused
        // before any body is awaited.
        {"long frame before the hello", ICLT_HELLO, "",
         std::string("\xE3", 1) + support::le32s(Peer::kHelloFrameMax + 1)},
    };
    for (const Case& c : cases) {
        std::unique_ptr<FrameClient> client;
        Peer* peer = accept(&client);
        ASSERT_NE(peer, nullptr);
        if (c.raw.empty())
            client->send(c.opcode, c.payload);
        else
            client->sendRaw(c.raw);
        EXPECT_TRUE(awaitClose(*client)) << c.what;
        EXPECT_TRUE(client->frames.empty()) << c.what;
    }
    EXPECT_EQ(clientPool()->peerCount(), 0);
    EXPECT_TRUE(events_.empty());
}

TEST_F(PeerHello, HelloAtTheTagCapJoinsAndLongFramesFollowIt) {
    std::unique_ptr<FrameClient> client;
    UserMeta full = userWithTags("full", 33, kPeerUserMaxTags - 1);
    Peer* peer = acceptHello(&client, full);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->user()->tagCount(), kPeerUserMaxTags);
    // After the hello the frame limit is the usual one again.
    client->send(ICLT_PING, std::string(Peer::kHelloFrameMax * 2, 'p'));
    ASSERT_TRUE(awaitFrames(*client, 2));
    EXPECT_EQ(client->frames[1].opcode, ICLT_PONG);
    EXPECT_FALSE(client->closed);
}

TEST_F(PeerHello, SameUserTwiceDropsTheSecondConnection) {
    std::unique_ptr<FrameClient> first;
    Peer* listed = acceptHello(&first, makeUser("gina", 0, 4200, 12));
    ASSERT_NE(listed, nullptr);
    // Another address, the same user hash.
    std::unique_ptr<FrameClient> second;
    ASSERT_NE(accept(&second), nullptr);
    UserMeta again = makeUser("gina2", ipFromText("198.51.100.1"), 4300, 12);
    second->send(ICLT_HELLO, helloPayload(again, 0, 0, true, true));
    EXPECT_TRUE(awaitClose(*second));
    EXPECT_TRUE(second->frames.empty());
    EXPECT_EQ(clientPool()->peerCount(), 1);
    EXPECT_TRUE(clientPool()->contains(listed));
}

TEST_F(PeerHello, LaterHelloIsOnlyLoggedAndPingIsAnswered) {
    std::unique_ptr<FrameClient> client;
    UserMeta hank = makeUser("hank", 0, 4400, 13);
    Peer* peer = acceptHello(&client, hank);
    ASSERT_NE(peer, nullptr);
    client->send(ICLT_HELLO, helloPayload(hank, 0, 0, true, true));
    client->send(74, "");
    client->send(ICLT_PING, "");
    ASSERT_TRUE(awaitFrames(*client, 2));
    EXPECT_EQ(client->frames[1].opcode, ICLT_PONG);
    EXPECT_TRUE(client->frames[1].payload.empty());
    EXPECT_FALSE(client->closed);
    EXPECT_EQ(events_, CallLog{"h.newPeer"});
}

TEST_F(PeerHello, IdleConnectionsCloseAndKeptOnesStay) {
    // Accepted, and no hello within 10000 ms: closed.
    std::unique_ptr<FrameClient> silent;
    Peer* quiet = accept(&silent);
    ASSERT_NE(quiet, nullptr);
    EXPECT_EQ(quiet->idleMs(), Peer::kIdleStartMs);
    step(Peer::kHelloLimitMs);
    silent->poll();
    EXPECT_FALSE(silent->closed);
    step(1);
    EXPECT_TRUE(awaitClose(*silent));

    // Outgoing, and nothing ever received: 60000 ms and a little more.
    int listenPort = 0;
    int listening = support::raw_listen(&listenPort);
    ASSERT_GE(listening, 0);
    auto outgoing = new Peer(ipFromText("127.0.0.1"), static_cast<uint16_t>(listenPort), false);
    ASSERT_TRUE(outgoing->open());
    FrameClient far(::accept(listening, nullptr, nullptr));
    ::close(listening);
    core_->socketPool()->add(outgoing);
    step();  // joins the pool
    step(60000);
    far.poll();
    EXPECT_FALSE(far.closed);
    step(1);
    EXPECT_TRUE(awaitClose(far));

    // After a hello: 120000 ms of silence.
    std::unique_ptr<FrameClient> talker;
    Peer* peer = acceptHello(&talker, makeUser("ivy", 0, 4500, 14));
    ASSERT_NE(peer, nullptr);
    step(Peer::kIdleLimitMs - peer->idleMs());
    talker->poll();
    EXPECT_FALSE(talker->closed);
    EXPECT_EQ(peer->idleMs(), Peer::kIdleLimitMs);
    peer->sendPing();  // counts as traffic
    step(120000 - 1);
    talker->poll();
    EXPECT_FALSE(talker->closed);
    step(2);
    EXPECT_TRUE(awaitClose(*talker));

    // A kept connection never times out; keeping restarts the count.
    std::unique_ptr<FrameClient> partner;
    Peer* kept = acceptHello(&partner, makeUser("jo", 0, 4600, 15));
    ASSERT_NE(kept, nullptr);
    step(100000);
    kept->setKeep(true);
    EXPECT_EQ(kept->idleMs(), 0);
    step(500000);
    partner->poll();
    EXPECT_FALSE(partner->closed);
    kept->setKeep(false);
    step(120001);
    EXPECT_TRUE(awaitClose(*partner));
    EXPECT_EQ(clientPool()->peerCount(), 0);
}

TEST_F(PeerHello, StatusLineShowsNameAddressTimesAndRates) {
    std::unique_ptr<FrameClient> client;
    UserMeta kim = makeUser("kim", 0, 40000, 16);
    int32_t version = 1050;
    kim.setSpecial(ST_VERSION, &version);
    Peer* peer = acceptHello(&client, kim);
    ASSERT_NE(peer, nullptr);
    OwnedString status;
    EXPECT_EQ(std::string(peer->status(status)), "kim [127.0.0.1:40000] (1) 1050 (0.00,0.00) [1] keep: 0");
}

}  // namespace
}  // namespace transfertest

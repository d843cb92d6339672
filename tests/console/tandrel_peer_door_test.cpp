// A scripted peer talks to a running tandrel on its door port.
#include <gtest/gtest.h>

#include "console/tandrel_process_fixture.h"
#include "core/meta/special_tags.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/peer/iclt_opcodes.h"

namespace {

constexpr int kWaitMs = 20000;

TEST_F(TandrelTest, ScriptedPeerIsAnsweredOnTheDoorPort) {
    // The record names the scripted user's tags need.
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    const int port = doorLease_.port();
    // The argument runs once start-up (and the door) is done.
    ASSERT_TRUE(process_.start(dir_, {"echo door open"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(process_.waitFor("door open", kWaitMs)) << process_.out();

    support::FrameClient peer(support::raw_connect(port));
    UserMeta user = support::makeUser("scripted", 0, 40000, 77);
    peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    ASSERT_TRUE(peer.awaitFrames(1, kWaitMs));
    EXPECT_EQ(peer.frames[0].opcode, ICLT_HELLO_ANSWER);
    EXPECT_TRUE(support::codeVerifies(ICLT_HELLO_ANSWER, peer.frames[0].payload, port));

    peer.send(ICLT_PING, "");
    ASSERT_TRUE(peer.awaitFrames(2, kWaitMs));
    EXPECT_EQ(peer.frames[1].opcode, ICLT_PONG);

    // Nothing is shared yet.
    std::string hash = support::hashBytes(support::hashOf(5));
    peer.send(ICLT_FILE_STATUS_REQUEST, hash);
    ASSERT_TRUE(peer.awaitFrames(3, kWaitMs));
    EXPECT_EQ(peer.frames[2].opcode, ICLT_NO_SUCH_FILE);
    EXPECT_EQ(peer.frames[2].payload, hash);

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
    std::string pref = readFile("pref.met");
    EXPECT_NE(pref.find("doorPort"), std::string::npos);
    EXPECT_NE(pref.find("resHD"), std::string::npos);
}

}  // namespace

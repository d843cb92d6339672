// Every sender's frame, byte for byte, from the message layouts.
#include <gtest/gtest.h>

#include <functional>

#include "core/net/ip_text.h"
#include "core/net/tcp_frame.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_world_fixture.h"

namespace transfertest {
namespace {

using PeerSenders = PeerWorld;

std::string str(const std::string& text) { return le16s(static_cast<uint16_t>(text.size())) + text; }

TEST_F(PeerSenders, EachSenderQueuesItsFrame) {
    FakeDownload* big = sides_.downloads.add(hashOf(1), 3 * 9728000ull);
    FileMeta* shared = sides_.shares.share(hashOf(2), 1000, "a.txt", "/docs");
    (void)shared;
    std::string h1 = hashBytes(hashOf(1));
    std::string h2 = hashBytes(hashOf(2));
    const uint32_t starts[3] = {0, 100, 200};
    const uint32_t ends[3] = {50, 150, 200};
    std::string ranges;
    for (uint32_t value : {0u, 100u, 200u, 50u, 150u, 200u}) ranges += le32s(value);
    struct Case {
        const char* what;
        std::function<void(Peer*)> send;
        uint8_t opcode;
        std::string payload;
    } cases[] = {
        {"hash-set request", [&](Peer* p) { p->sendHashSetRequest(hashOf(1)); }, ICLT_HASHSET_REQUEST, h1},
        {"file status request", [&](Peer* p) { EXPECT_TRUE(p->sendFileStatusRequest(big)); },
         ICLT_FILE_STATUS_REQUEST, h1},
        {"part request", [&](Peer* p) { p->sendPartRequest(big, starts, ends); }, ICLT_PART_REQUEST, h1 + ranges},
        {"file meta", [&](Peer* p) { p->sendFileMeta(hashOf(2)); }, ICLT_FILE_META, h2},
        {"file status", [&](Peer* p) { p->sendFileStatus(hashOf(2)); }, ICLT_FILE_STATUS, h2 + std::string(3, '\0')},
        {"directory list request", [&](Peer* p) { p->sendDirectoryRequest(nullptr); },
         ICLT_DIRECTORY_LIST_REQUEST, ""},
        {"directory files request", [&](Peer* p) { p->sendDirectoryRequest("/docs"); },
         ICLT_DIRECTORY_FILES_REQUEST, str("/docs")},
        {"directory list", [&](Peer* p) { p->sendDirectoryList(); }, ICLT_DIRECTORY_LIST,
         le32s(1) + str("/docs")},
        {"file view refused", [&](Peer* p) { p->sendFileViewRefused(); }, ICLT_FILE_VIEW_REFUSED, ""},
        {"slot release", [&](Peer* p) { p->sendSlotRelease(); }, ICLT_SLOT_RELEASE, ""},
        {"upload request", [&](Peer* p) { p->sendUploadRequest(hashOf(2)); }, ICLT_UPLOAD_REQUEST, h2},
        {"slot open", [&](Peer* p) { p->sendSlotOpen(); }, ICLT_SLOT_OPEN, ""},
        {"slot closed", [&](Peer* p) { p->sendSlotClosed(); }, ICLT_SLOT_CLOSED, ""},
        {"no such file", [&](Peer* p) { p->sendNoSuchFile(hashOf(1)); }, ICLT_NO_SUCH_FILE, h1},
        {"file name request", [&](Peer* p) { p->sendFileNameRequest(hashOf(1)); }, ICLT_FILE_NAME_REQUEST, h1},
        {"call-back request", [&](Peer* p) { p->sendCallbackRequest(ipFromText("1.2.3.4"), 40000); },
         ICLT_CALLBACK_REQUEST, std::string("\x01\x02\x03\x04", 4) + le16s(40000)},
        {"queue rank", [&](Peer* p) { p->sendQueueRank(0x01020304); }, ICLT_QUEUE_RANK, le32s(0x01020304)},
        {"ping", [&](Peer* p) { p->sendPing(); }, ICLT_PING, ""},
        {"partner request", [&](Peer* p) { p->sendPartnerRequest(hashOf(1)); }, ICLT_PARTNER_REQUEST, h1},
        {"have crumb", [&](Peer* p) { p->sendHaveCrumb(hashOf(1), 19); }, ICLT_HAVE_CRUMB, h1 + le32s(19)},
        {"port reachable", [&](Peer* p) { p->sendPortReachable(); }, ICLT_PORT_REACHABLE, ""},
    };
    std::unique_ptr<FrameClient> client;
    Peer* peer = acceptHello(&client, makeUser("lee", 0, 4800, 30));
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(awaitFrames(*client, 1));
    size_t next = 1;
    for (const Case& c : cases) {
        c.send(peer);
        ASSERT_TRUE(awaitFrames(*client, next + 1)) << c.what;
        EXPECT_EQ(client->frames[next].opcode, c.opcode) << c.what;
        // A one-part file's hash set is empty: nothing follows the hash.
        EXPECT_EQ(client->frames[next].payload, c.payload) << c.what;
        next++;
    }
}

TEST_F(PeerSenders, CrumbPeersGetCrumbRequestsAndSmallFilesNoStatusRequest) {
    std::unique_ptr<FrameClient> client;
    UserMeta crumbPeer = makeUser("max", 0, 4900, 31);
    int32_t one = 1;
    crumbPeer.set("pr", &one, kTagInt);
    Peer* peer = acceptHello(&client, crumbPeer);
    ASSERT_NE(peer, nullptr);
    EXPECT_EQ(peer->prValue(), 1);
    peer->sendHashSetRequest(hashOf(3));
    ASSERT_TRUE(awaitFrames(*client, 2));
    EXPECT_EQ(client->frames[1].opcode, ICLT_FILE_META_REQUEST);
    // The status request needs a partial file above one crumb for a crumb
    // peer, one part for the others.
    struct Case {
        uint64_t size;
        bool partial;
        int32_t pr;
        bool sent;
    } cases[] = {
        {486400, true, 1, false}, {486401, true, 1, true},  {9728000, true, 0, false},
        {9728001, true, 0, true}, {9728001, false, 0, false},
    };
    uint8_t id = 40;
    for (const Case& c : cases) {
        FakeDownload* download = sides_.downloads.add(hashOf(id++), c.size);
        download->partial = c.partial;
        std::unique_ptr<FrameClient> other;
        UserMeta user = makeUser("ned", 0, static_cast<uint16_t>(5000 + id), id);
        if (c.pr) user.set("pr", &c.pr, kTagInt);
        Peer* target = acceptHello(&other, user);
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->sendFileStatusRequest(download), c.sent) << c.size;
    }
}

TEST_F(PeerSenders, ListsStopAtTheFrameCap) {
    // Names of 60000 bytes: 69 of them fill the 4 MiB frame.
    std::string longName(60000, 'd');
    for (int i = 0; i < 80; i++) {
        std::string directory = longName + std::to_string(100 + i);
        sides_.shares.share(hashOf(static_cast<uint8_t>(i)), 10, "f", directory);
    }
    std::unique_ptr<FrameClient> client;
    Peer* peer = acceptHello(&client, makeUser("oz", 0, 4950, 32));
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(awaitFrames(*client, 1));
    peer->sendDirectoryList();
    ASSERT_TRUE(awaitFrames(*client, 2));
    const std::string& payload = client->frames[1].payload;
    EXPECT_LE(payload.size() + 1, kMaxFrameLength);
    uint32_t count = static_cast<uint8_t>(payload[0]) | static_cast<uint8_t>(payload[1]) << 8;
    EXPECT_EQ(count, (kMaxFrameLength - 1 - 4) / (60003 + 2));
}

}  // namespace
}  // namespace transfertest

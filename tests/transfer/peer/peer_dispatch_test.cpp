// Every received opcode reaches the right side with the right arguments, or
// draws the right reply; short payloads drop the connection; the answers
// with no side installed.
#include <gtest/gtest.h>

#include "core/meta/file_list.h"
#include "core/net/ip_text.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer_world_fixture.h"
#include "v4ada/file/ram_file.h"

namespace transfertest {
namespace {

constexpr uint64_t kPart = 9728000;
const uint32_t kLoopback = ipFromText("127.0.0.1");

std::string str(const std::string& text) { return le16s(static_cast<uint16_t>(text.size())) + text; }

std::string mapWire(const std::string& bits) {
    BoolArray map;
    setBits(map, bits);
    uint8_t buffer[8300];
    i4_ram_file_class file(buffer, sizeof(buffer), 0);
    map.write(&file);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(file.tell()));
}

std::string fileListWire(FileList& list) {
    uint8_t buffer[4096];
    i4_ram_file_class file(buffer, sizeof(buffer), 0);
    list.toNetwork(&file);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(file.tell()));
}

struct Exchange {
    std::vector<Frame> replies;
    bool dropped = false;
    std::vector<uint8_t> opcodes() const {
        std::vector<uint8_t> out;
        for (const Frame& frame : replies) out.push_back(frame.opcode);
        return out;
    }
};

class PeerDispatch : public PeerWorld {
protected:
    void SetUp() override {
        PeerWorld::SetUp();
        // Downloading hash 1 (two whole parts: 40 crumbs); sharing hash 2
        // complete in /music and hash 1 as an incomplete file.
        download_ = sides_.downloads.add(hashOf(1), 2 * kPart);
        setBits(download_->parts, "10");
        setBits(download_->crumbs, std::string(20, '1') + std::string(20, '0'));
        sides_.shares.share(hashOf(2), 1000, "song.mp3", "/music");
        sides_.shares.share(hashOf(1), static_cast<uint32_t>(2 * kPart), "part.bin", "");
    }

    // A fresh peer of the user "zed" after its hello; the log cleared.
    Peer* connect(int32_t prValue = 0) {
        client_.reset();
        UserMeta zed = makeUser("zed", 0, static_cast<uint16_t>(5000 + users_), static_cast<uint8_t>(100 + users_));
        users_++;
        if (prValue) zed.set("pr", &prValue, kTagInt);
        Peer* peer = acceptHello(&client_, zed);
        EXPECT_NE(peer, nullptr);
        EXPECT_TRUE(awaitFrames(*client_, 1));
        client_->frames.clear();
        sides_.log.clear();
        return peer;
    }

    // Sends the message, then a ping: the replies before the pong, or the
    // drop.
    Exchange exchange(uint8_t opcode, const std::string& payload) {
        client_->send(opcode, payload);
        client_->send(ICLT_PING, "");
        Exchange out;
        stepUntil([&] {
            client_->poll(kReplyWaitMs);
            if (client_->closed) return true;
            return !client_->frames.empty() && client_->frames.back().opcode == ICLT_PONG;
        });
        out.dropped = client_->closed;
        out.replies = client_->frames;
        if (!out.dropped && !out.replies.empty()) out.replies.pop_back();
        client_->frames.clear();
        return out;
    }

    FakeDownload* download_ = nullptr;
    std::unique_ptr<FrameClient> client_;
    int users_ = 0;
};

TEST_F(PeerDispatch, EachOpcodeReachesItsSideOrDrawsItsReply) {
    FileList listed;
    auto record = new FileMeta();
    record->setFileHash(hashOf(5));
    record->setName("tune");
    listed.add(record);
    std::string range = le32s(0) + le32s(3) + "abc";
    std::string ranges;
    for (uint32_t value : {0u, 20u, 7u, 10u, 30u, 7u}) ranges += le32s(value);
    std::string h1 = hashBytes(hashOf(1));
    std::string h2 = hashBytes(hashOf(2));
    std::string h9 = hashBytes(hashOf(9));
    struct Case {
        const char* what;
        uint8_t opcode;
        std::string payload;
        CallLog calls;
        std::vector<uint8_t> replies;
    } cases[] = {
        {"old client", ICLT_OLD_CLIENT, "", {}, {}},
        {"data", ICLT_DATA, h1 + range, {"dataReceived " + range}, {}},
        {"data, no download", ICLT_DATA, h9 + range, {}, {}},
        {"part request", ICLT_PART_REQUEST, h2 + ranges, {"partRequest 2 0-10 20-30 7-7"}, {}},
        {"no such file", ICLT_NO_SUCH_FILE, h1, {"noFile"}, {}},
        {"file done", ICLT_FILE_DONE, h2, {"uploads.peerClosed"}, {}},
        {"message", ICLT_MESSAGE, str("hi there"), {"gotMessage hi there"}, {}},
        {"status request, complete", ICLT_FILE_STATUS_REQUEST, h2, {}, {ICLT_FILE_STATUS}},
        {"status request, partial", ICLT_FILE_STATUS_REQUEST, h1, {}, {ICLT_FILE_STATUS}},
        {"status request, unknown", ICLT_FILE_STATUS_REQUEST, h9, {}, {ICLT_NO_SUCH_FILE}},
        {"hash set request", ICLT_HASHSET_REQUEST, h1, {}, {}},
        {"hash set answer", ICLT_HASHSET_ANSWER, h1 + "xyz", {"setHashSet xyz"}, {}},
        {"message refused", ICLT_MESSAGE_REFUSED, "", {"notAcceptingCalls"}, {}},
        {"upload request", ICLT_UPLOAD_REQUEST, h2, {"queueRequest 2"}, {}},
        {"slot open", ICLT_SLOT_OPEN, "", {"openSlot"}, {}},
        {"slot release", ICLT_SLOT_RELEASE, "", {"uploads.peerClosed"}, {}},
        {"slot closed", ICLT_SLOT_CLOSED, "", {"uploadEnded"}, {}},
        {"name request", ICLT_FILE_NAME_REQUEST, h2, {}, {ICLT_FILE_NAME}},
        {"name request, unknown", ICLT_FILE_NAME_REQUEST, h9, {}, {}},
        {"file name", ICLT_FILE_NAME, h1 + str("x.bin"), {"fileNameAnswer x.bin"}, {}},
        {"have file", ICLT_HAVE_FILE, h1, {"addSource 1 zed"}, {}},
        {"queue rank", ICLT_QUEUE_RANK, le32s(7), {"placeInQueue 7"}, {}},
        {"directory list", ICLT_DIRECTORY_LIST, le32s(2) + str("a") + str("b"),
         {"setViewFlag 1", "gotDirectories a b"}, {}},
        {"directory files", ICLT_DIRECTORY_FILES, str("d") + fileListWire(listed), {"setViewFlag 1", "gotFiles d tune"}, {}},
        {"view refused", ICLT_FILE_VIEW_REFUSED, "", {"filesRefused", "setViewFlag 0"}, {}},
        {"pong", ICLT_PONG, "", {}, {}},
        {"port reachable", ICLT_PORT_REACHABLE, "", {"setFirewalled 0"}, {}},
        {"partner request", ICLT_PARTNER_REQUEST, h1, {"addSource 1 zed", "acceptPartner 1"}, {ICLT_PARTNER_REFUSED}},
        {"partner refused", ICLT_PARTNER_REFUSED, h1, {"partnerRefused"}, {}},
        {"partner accepted", ICLT_PARTNER_ACCEPTED, h1, {"partnerAccepted"}, {}},
        {"file meta", ICLT_FILE_META, h1 + "hs", {"setHashSetWithCrumbs hs"}, {}},
        {"meta request", ICLT_FILE_META_REQUEST, h2, {}, {ICLT_FILE_META}},
        {"meta request, unknown", ICLT_FILE_META_REQUEST, h9, {}, {ICLT_NO_SUCH_FILE}},
        {"have crumb", ICLT_HAVE_CRUMB, h1 + le32s(5), {"haveNotice 5"}, {}},
        {"address mismatch", ICLT_ADDRESS_MISMATCH, "", {"retestFirewall"}, {}},
        {"74", 74, "", {}, {}},
        {"75", 75, "xx", {}, {}},
        {"200", 200, "", {}, {}},
    };
    for (const Case& c : cases) {
        Peer* peer = connect();
        Exchange result = exchange(c.opcode, c.payload);
        EXPECT_FALSE(result.dropped) << c.what;
        EXPECT_EQ(sides_.log, c.calls) << c.what;
        EXPECT_EQ(result.opcodes(), c.replies) << c.what;
        // Every reference taken is given back, every use let go.
        EXPECT_EQ(download_->references, 0) << c.what;
        EXPECT_EQ(peer->useCount(), 0) << c.what;
        // The side hears of this connection.
        TCPConnection* seen = sides_.uploads.lastPeer;
        if (!seen) seen = download_->lastConnection;
        if (!seen) seen = sides_.downloads.lastConnection;
        if (seen) {
            EXPECT_EQ(seen, peer) << c.what;
        }
        sides_.uploads.lastPeer = nullptr;
        download_->lastConnection = nullptr;
        sides_.downloads.lastConnection = nullptr;
    }
    // The texts of 5 and 97.
    bool oldClient = false, refused = false;
    for (const std::string& line : printed()) {
        oldClient = oldClient || line.find("out of date") != std::string::npos;
        refused = refused || line == "Client does not give out files";
    }
    EXPECT_TRUE(oldClient);
    EXPECT_TRUE(refused);
    listed.clear();
}

TEST_F(PeerDispatch, RepliesCarryTheirFields) {
    connect();
    Exchange name = exchange(ICLT_FILE_NAME_REQUEST, hashBytes(hashOf(2)));
    ASSERT_EQ(name.replies.size(), 1u);
    EXPECT_EQ(name.replies[0].payload, hashBytes(hashOf(2)) + str("song.mp3"));
    // A complete shared file: the empty map and one byte of nothing.
    Exchange complete = exchange(ICLT_FILE_STATUS_REQUEST, hashBytes(hashOf(2)));
    ASSERT_EQ(complete.replies.size(), 1u);
    EXPECT_EQ(complete.replies[0].payload, hashBytes(hashOf(2)) + std::string(3, '\0'));
    // An incomplete one: its part map, or its crumb map for a crumb peer.
    Exchange parts = exchange(ICLT_FILE_STATUS_REQUEST, hashBytes(hashOf(1)));
    ASSERT_EQ(parts.replies.size(), 1u);
    EXPECT_EQ(parts.replies[0].payload, hashBytes(hashOf(1)) + mapWire("10"));
    connect(1);
    Exchange crumbs = exchange(ICLT_FILE_STATUS_REQUEST, hashBytes(hashOf(1)));
    ASSERT_EQ(crumbs.replies.size(), 1u);
    EXPECT_EQ(crumbs.replies[0].payload, hashBytes(hashOf(1)) + mapWire(bitsOf(download_->crumbs)));
    // A download without a partial file has nothing to show.
    download_->partial = false;
    EXPECT_EQ(exchange(ICLT_FILE_STATUS_REQUEST, hashBytes(hashOf(1))).opcodes(),
              std::vector<uint8_t>{ICLT_NO_SUCH_FILE});
    // An accepted partner, and the hash-set answer without a partial file.
    sides_.downloads.partnerAnswer = true;
    Exchange partner = exchange(ICLT_PARTNER_REQUEST, hashBytes(hashOf(1)));
    ASSERT_EQ(partner.replies.size(), 1u);
    EXPECT_EQ(partner.replies[0].opcode, ICLT_PARTNER_ACCEPTED);
    EXPECT_EQ(partner.replies[0].payload, hashBytes(hashOf(1)));
    sides_.log.clear();
    exchange(ICLT_HASHSET_ANSWER, hashBytes(hashOf(1)) + "xyz");
    exchange(ICLT_FILE_META, hashBytes(hashOf(1)) + "xyz");
    EXPECT_TRUE(sides_.log.empty());
    // A refused message is answered.
    sides_.messages.accept = false;
    EXPECT_EQ(exchange(ICLT_MESSAGE, str("hello")).opcodes(), std::vector<uint8_t>{ICLT_MESSAGE_REFUSED});
}

TEST_F(PeerDispatch, SetAddressTakesBothAddresses) {
    Peer* peer = connect();
    exchange(ICLT_SET_ADDRESS, le32s(ipFromText("10.0.0.5")) + le32s(ipFromText("10.0.0.6")));
    EXPECT_EQ(peer->user()->ip(), ipFromText("10.0.0.5"));
    EXPECT_EQ(peer->remoteIp(), ipFromText("10.0.0.5"));
    EXPECT_EQ(peer->user()->buddyIp(), ipFromText("10.0.0.6"));
    exchange(ICLT_SET_ADDRESS, le32s(0) + le32s(0));
    EXPECT_EQ(peer->user()->ip(), kLoopback);
}

TEST_F(PeerDispatch, ShortPayloadsDropTheConnection) {
    std::string h1 = hashBytes(hashOf(1));
    struct Case {
        const char* what;
        uint8_t opcode;
        std::string payload;
    } cases[] = {
        {"hash cut", ICLT_NO_SUCH_FILE, h1.substr(0, 10)},
        {"ranges cut", ICLT_PART_REQUEST, hashBytes(hashOf(2)) + le32s(1)},
        {"rank cut", ICLT_QUEUE_RANK, "ab"},
        {"crumb cut", ICLT_HAVE_CRUMB, h1 + "x"},
        {"map cut", ICLT_FILE_STATUS, h1 + le16s(40) + "\x01"},
        {"string cut", ICLT_MESSAGE, le16s(10) + "abc"},
        {"address cut", ICLT_CALLBACK_REQUEST, le32s(1)},
        {"directory count beyond the message", ICLT_DIRECTORY_LIST, le32s(1000000) + str("a")},
        {"file list that does not parse", ICLT_DIRECTORY_FILES, str("d") + le32s(3) + "junk"},
    };
    for (const Case& c : cases) {
        Peer* peer = connect();
        (void)peer;
        EXPECT_TRUE(exchange(c.opcode, c.payload).dropped) << c.what;
        EXPECT_EQ(download_->references, 0) << c.what;
    }
}

TEST_F(PeerDispatch, FileStatusIsNormalisedToCrumbs) {
    // Two whole parts: P = size / part + 1 = 3, ceil = 2, C = 40.
    std::string twenty1(20, '1'), twenty0(20, '0');
    struct Case {
        const char* what;
        std::string sent;
        std::string handedOn;  // empty: the message fails
    } cases[] = {
        {"count 0: the whole file", "", std::string(40, '1')},
        {"P bits", "011", twenty0 + twenty1},
        {"ceil bits (our own part maps)", "10", twenty1 + twenty0},
        {"C bits", std::string(39, '0') + "1", std::string(39, '0') + "1"},
        {"any other count", "10101", ""},
    };
    for (const Case& c : cases) {
        connect();
        std::string wire = c.sent.empty() ? le16s(0) : mapWire(c.sent);
        Exchange result = exchange(ICLT_FILE_STATUS, hashBytes(hashOf(1)) + wire);
        if (c.handedOn.empty()) {
            EXPECT_TRUE(result.dropped) << c.what;
            EXPECT_TRUE(sides_.log.empty()) << c.what;
        } else {
            EXPECT_FALSE(result.dropped) << c.what;
            EXPECT_EQ(sides_.log, CallLog{"fileStatus " + c.handedOn}) << c.what;
        }
        EXPECT_EQ(download_->references, 0) << c.what;
    }
    EXPECT_EQ(printed().back(), "Peer sent bad file gaps: zed (5[3 or 40])");
}

TEST_F(PeerDispatch, DirectoryRequestsFollowFrAllow) {
    struct Case {
        int frAllow;
        bool isFriend;
        std::vector<uint8_t> listReply;
        std::vector<uint8_t> filesReply;
    } cases[] = {
        {0, false, {ICLT_DIRECTORY_LIST}, {ICLT_DIRECTORY_FILES}},
        {1, true, {ICLT_DIRECTORY_LIST}, {ICLT_DIRECTORY_FILES}},
        {1, false, {ICLT_FILE_VIEW_REFUSED}, {ICLT_FILE_VIEW_REFUSED}},
        {2, true, {ICLT_FILE_VIEW_REFUSED}, {ICLT_FILE_VIEW_REFUSED}},
        {3, true, {}, {}},
    };
    for (const Case& c : cases) {
        transferOptions()->setFrAllow(c.frAllow);
        sides_.friends.friendAnswer = c.isFriend;
        connect();
        EXPECT_EQ(exchange(ICLT_DIRECTORY_LIST_REQUEST, "").opcodes(), c.listReply) << c.frAllow;
        EXPECT_EQ(exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/music")).opcodes(), c.filesReply) << c.frAllow;
    }
    // The list holds the directories with files, then "!Incomplete Files";
    // the files are copies without local tags.
    transferOptions()->setFrAllow(0);
    float sent = 2.0f;
    sides_.shares.sharedFile(hashOf(2))->set("# Sent", &sent, kTagFloat);
    sides_.shares.directories["/empty"] = std::make_unique<FileList>();
    sides_.shares.order.insert(sides_.shares.order.begin(), "/empty");
    connect();
    Exchange list = exchange(ICLT_DIRECTORY_LIST_REQUEST, "");
    ASSERT_EQ(list.replies.size(), 1u);
    EXPECT_EQ(list.replies[0].payload, le32s(2) + str("/music") + str("!Incomplete Files"));
    Exchange files = exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/music"));
    ASSERT_EQ(files.replies.size(), 1u);
    std::string body = files.replies[0].payload;
    i4_ram_file_class reader(body.data(), static_cast<i4_pos>(body.size()), 0);
    EXPECT_STREQ(OwnedString(&reader).c_str(), "/music");
    FileList got;
    ASSERT_TRUE(got.fromNetwork(&reader));
    ASSERT_EQ(got.count(), 1);
    auto file = static_cast<FileMeta*>(got.at(0));
    EXPECT_STREQ(file->name(), "song.mp3");
    EXPECT_EQ(file->findTag("# Sent"), nullptr);
    got.clear();
    // A directory that is not shared, or empty, sends nothing.
    EXPECT_TRUE(exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/nowhere")).replies.empty());
    EXPECT_TRUE(exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/empty")).replies.empty());
    // Both are logged.
    EXPECT_EQ(sides_.shares.sharedFile(hashOf(2))->getFloat("# Sent"), 2.0f);
}

TEST_F(PeerDispatch, DirectoryLogLinesComeOncePerPeerAndDirectoryAMinute) {
    transferOptions()->setFrAllow(0);
    auto sendingLines = [&] {
        std::vector<std::string> lines;
        for (const std::string& line : capture_->logged())
            if (line.rfind("Sending Shared", 0) == 0) lines.push_back(line);
        return lines;
    };
    connect();
    for (int i = 0; i < 3; i++) {
        exchange(ICLT_DIRECTORY_LIST_REQUEST, "");
        exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/music"));
        exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/nowhere"));
    }
    EXPECT_EQ(sendingLines(), (std::vector<std::string>{"Sending Shared Directory List: zed",
                                                         "Sending Shared File List (/music): zed",
                                                         "Sending Shared File List (/nowhere): zed"}));
    // Every request is still answered.
    EXPECT_EQ(exchange(ICLT_DIRECTORY_LIST_REQUEST, "").opcodes(), std::vector<uint8_t>{ICLT_DIRECTORY_LIST});
    step(59000);
    exchange(ICLT_DIRECTORY_LIST_REQUEST, "");
    EXPECT_EQ(sendingLines().size(), 3u);
    step(1000);
    exchange(ICLT_DIRECTORY_LIST_REQUEST, "");
    EXPECT_EQ(sendingLines().size(), 4u);
    // Another user from the same address shares its lines: a directory not
    // logged this minute still is.
    connect();
    exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/music"));
    EXPECT_EQ(sendingLines().size(), 5u);
    // A name the peer chose cannot forge a line of the log.
    exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/a\nSending Shared Directory List: forged"));
    ASSERT_EQ(sendingLines().size(), 6u);
    EXPECT_EQ(sendingLines().back(), "Sending Shared File List (/a\\nSending Shared Directory List: forged): zed");
}

TEST_F(PeerDispatch, MadeUpDirectoriesAndUsersGetAHandfulOfLinesAnAddressAndAllABoundAMinute) {
    transferOptions()->setFrAllow(0);
    auto sendingLines = [&] {
        size_t lines = 0;
        for (const std::string& line : capture_->logged()) lines += line.rfind("Sending Shared", 0) == 0;
        return lines;
    };
    const size_t perMinute = ClientPool::kDirectoryLogLinesPerPeer;
    int named = 0;
    // Requests for directories nobody shares, each of another name.
    auto flood = [&](int count) {
        for (int i = 1; i < count; i++)
            client_->send(ICLT_DIRECTORY_FILES_REQUEST, str("/made-up " + std::to_string(named++)));
        exchange(ICLT_DIRECTORY_FILES_REQUEST, str("/made-up " + std::to_string(named++)));
    };
    connect();
    flood(2000);
    EXPECT_EQ(sendingLines(), perMinute);
    // The same address again and again, each time under a fresh user hash:
    // no line more this minute.
    for (int i = 0; i < 20; i++) {
        connect();
        flood(10);
    }
    EXPECT_EQ(sendingLines(), perMinute);
    step(60000);
    flood(2000);
    EXPECT_EQ(sendingLines(), 2 * perMinute);

    // Many other addresses, a line each: while the minute's lines of all
    // peers stay under the bound, an address new to it is still logged.
    LogRate& rate = clientPool()->directoryLogRate();
    step(60000);
    for (size_t i = 0; i + 1 < ClientPool::kDirectoryLogLines; i++)
        ASSERT_TRUE(rate.allow("address " + std::to_string(i), "")) << i;
    connect();
    exchange(ICLT_DIRECTORY_LIST_REQUEST, "");
    ASSERT_EQ(sendingLines(), 2 * perMinute + 1);
    EXPECT_EQ(capture_->logged().back(), "Sending Shared Directory List: zed");
    // The bound is reached: no line of any address, however many come.
    flood(10);
    for (size_t i = 0; i < 2000; i++) EXPECT_FALSE(rate.allow("more " + std::to_string(i), "")) << i;
    EXPECT_EQ(sendingLines(), 2 * perMinute + 1);
    // Every request is still answered, and the next minute logs again.
    EXPECT_EQ(exchange(ICLT_DIRECTORY_LIST_REQUEST, "").opcodes(), std::vector<uint8_t>{ICLT_DIRECTORY_LIST});
    step(60000);
    flood(1);
    EXPECT_EQ(sendingLines(), 2 * perMinute + 2);
}

TEST_F(PeerDispatch, CallBackIsHonouredOnlyFromOurBuddyWhileFirewalled) {
    FakeDialer dialer;
    clientPool()->setDialer(&dialer);
    const uint32_t target = ipFromText("203.0.113.9");
    struct Case {
        const char* what;
        bool gateway;
        int firewall;
        uint32_t buddy;
        uint32_t ip;
        bool dials;
    } cases[] = {
        {"firewalled, from the buddy", true, NetworkGateway::kFirewalled, kLoopback, target, true},
        {"firewalled, from a stranger", true, NetworkGateway::kFirewalled, ipFromText("10.9.9.9"), target, false},
        {"open", true, NetworkGateway::kOpen, kLoopback, target, false},
        {"not yet known", true, NetworkGateway::kUnknown, kLoopback, target, false},
        {"low ID target", true, NetworkGateway::kFirewalled, kLoopback, 0x00FFFFFF, false},
        {"no overlay", false, NetworkGateway::kFirewalled, kLoopback, target, false},
    };
    for (const Case& c : cases) {
        sides_.gateway.firewall = c.firewall;
        sides_.gateway.buddy = c.buddy;
        setNetworkGateway(c.gateway ? &sides_.gateway : nullptr);
        connect();
        size_t before = dialer.dialed.size();
        exchange(ICLT_CALLBACK_REQUEST, le32s(c.ip) + le16s(4662));
        EXPECT_EQ(dialer.dialed.size() - before, c.dials ? 1u : 0u) << c.what;
    }
    ASSERT_EQ(dialer.dialed.size(), 1u);
    EXPECT_EQ(dialer.dialed[0]->remoteIp(), target);
    EXPECT_EQ(dialer.dialed[0]->remotePort(), 4662);
    EXPECT_TRUE(dialer.dialed[0]->persistent());
    setNetworkGateway(&sides_.gateway);
    clientPool()->setDialer(nullptr);
}

TEST_F(PeerDispatch, WithNoSideInstalledThePeerAnswersAsWhenNothingMatches) {
    sides_.uninstall();
    std::string h1 = hashBytes(hashOf(1));
    struct Case {
        const char* what;
        uint8_t opcode;
        std::string payload;
        std::vector<uint8_t> replies;
    } cases[] = {
        {"status request", ICLT_FILE_STATUS_REQUEST, h1, {ICLT_NO_SUCH_FILE}},
        {"meta request", ICLT_FILE_META_REQUEST, h1, {ICLT_NO_SUCH_FILE}},
        {"name request", ICLT_FILE_NAME_REQUEST, h1, {}},
        {"directory list", ICLT_DIRECTORY_LIST_REQUEST, "", {ICLT_DIRECTORY_LIST}},
        {"directory files", ICLT_DIRECTORY_FILES_REQUEST, str("/music"), {}},
        {"message", ICLT_MESSAGE, str("hi"), {ICLT_MESSAGE_REFUSED}},
        {"slot open", ICLT_SLOT_OPEN, "", {ICLT_SLOT_RELEASE}},
        {"partner request", ICLT_PARTNER_REQUEST, h1, {ICLT_PARTNER_REFUSED}},
        {"data", ICLT_DATA, h1 + le32s(0), {}},
        {"file status", ICLT_FILE_STATUS, h1 + le16s(3), {}},
        {"part request", ICLT_PART_REQUEST, h1 + std::string(24, '\0'), {}},
        {"directory files answer", ICLT_DIRECTORY_FILES, str("d") + le32s(0), {}},
        {"port reachable", ICLT_PORT_REACHABLE, "", {}},
    };
    for (const Case& c : cases) {
        Peer* peer = connect();
        Exchange result = exchange(c.opcode, c.payload);
        EXPECT_FALSE(result.dropped) << c.what;
        EXPECT_EQ(result.opcodes(), c.replies) << c.what;
        EXPECT_EQ(peer->useCount(), 0) << c.what;
    }
    EXPECT_TRUE(sides_.log.empty());
}

}  // namespace
}  // namespace transfertest

// The friend and private-message words: the friend listing, the invalid
// indexes, afr and rfr, and the arguments of message and ffriend.
#include "console/cli/friend_commands.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/cli/servant.h"
#include "core/bus/message_codes.h"
#include "core/bus/source_records.h"
#include "core/meta/file_list.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "core/ui/record_table.h"
#include "support/bus_recorder.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "transfer/friends/friend_list.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"

namespace {

using Lines = std::vector<std::string>;
using support::makeUser;

class FriendCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        process_.emplace(support::ProcessObjects::kSpecialTags | support::ProcessObjects::kClientPool |
                         support::ProcessObjects::kFriendList);
        clientPool()->setDialer(&dialer_);
        clientPool()->addHandler(friendList());
        consoleServant.store(&servant_);
        setRecordTablePrinter(Servant::printMetaTable);
    }
    void TearDown() override {
        for (Peer* peer : peers_) delete peer;
        setRecordTablePrinter(nullptr);
        consoleServant.store(nullptr);
        clientPool()->setDialer(nullptr);
        process_.reset();
    }
    // Runs the word's handler on the line; the lines it printed.
    Lines run(void (*handler)(char*), std::string line) {
        size_t before = ui_.printed().size();
        handler(line.data());
        Lines all = ui_.printed();
        return Lines(all.begin() + static_cast<long>(before), all.end());
    }
    Peer* connect(const UserMeta& user) {
        auto peer = new Peer(user.ip(), user.port(), true);
        UserMeta copy(user);
        peer->user()->assign(&copy);
        peers_.push_back(peer);
        clientPool()->addPeer(peer);
        return peer;
    }

    std::optional<support::ProcessObjects> process_;
    support::CaptureUI ui_;
    support::BusRecorder bus_;
    support::FakeDialer dialer_;
    support::TempDir dir_;
    Servant servant_;
    std::vector<Peer*> peers_;
};

TEST_F(FriendCommandsTest, GfrListsFriendsFromFriendMet) {
    UserMeta amy = makeUser("amy", ipFromText("203.0.113.1"), 4662, 0x11);
    UserMeta bob = makeUser("bob", ipFromText("198.51.100.2"), 4711, 0x12);
    const std::string path = dir_.path() + "/friend.met";
    friendList()->addFriend(&amy);
    friendList()->addFriend(&bob);
    ASSERT_TRUE(friendList()->save(path.c_str()));
    friendList()->clear();
    ASSERT_EQ(friendList()->load(path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(run(gfr_command, "gfr"), (Lines{"(1)\t203.0.113.1\t4662\t [not connected]",
                                              "(2)\t198.51.100.2\t4711\t [not connected]"}));
    connect(amy);
    EXPECT_EQ(run(gfr_command, "gfr"),
              (Lines{"(1)\tamy\t [connected]", "(2)\t198.51.100.2\t4711\t [not connected]"}));
}

TEST_F(FriendCommandsTest, GfrIndexesAndDownloads) {
    UserMeta amy = makeUser("amy", ipFromText("203.0.113.1"), 4662, 0x11);
    friendList()->addFriend(&amy);
    std::vector<OwnedString> names;
    names.emplace_back("/a");
    friendList()->gotDirectories(&amy, std::move(names));
    auto files = std::make_unique<FileList>();
    auto* record = new FileMeta();
    record->setSpecial(ST_NAME, "x.txt");
    record->setFileHash(support::hashOf(7));
    files->MetaList::add(record);
    friendList()->gotFiles(&amy, "/a", std::move(files));
    struct Case {
        const char* line;
        Lines printed;
    } cases[] = {
        {"gfr 3", {"Attempting to view invalid friend index: 3"}},
        {"gfr 0", {"Attempting to view invalid friend index: 0"}},
        {"gfr x 1", {"Attempting to view invalid friend index: x"}},
        {"gfr 1", {"1 directories:", "1) /a"}},
        {"gfr 1 2", {"Attempting to view invalid directory index: 2"}},
        {"gfr 1 0 1", {"Attempting to view invalid directory index: 0"}},
        {"gfr 1 1 2", {"Attempting to download invalid file: 2"}},
        {"gfr 1 1 z", {"Attempting to download invalid file: z"}},
    };
    for (const Case& c : cases) EXPECT_EQ(run(gfr_command, c.line), c.printed) << c.line;
    Lines table = run(gfr_command, "gfr 1 1");
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], "1 files:");
    EXPECT_NE(table[2].find("x.txt"), std::string::npos);
    EXPECT_TRUE(bus_.take().empty());

    // The download, then the friend as its source.
    EXPECT_EQ(run(gfr_command, "gfr 1 1 1"), Lines{});
    std::vector<Message> posted = bus_.take();
    ASSERT_EQ(posted.size(), 2u);
    ASSERT_EQ(posted[0].code, MSG_START_DOWNLOAD);
    ASSERT_EQ(posted[1].code, MSG_ADD_SOURCE);
    std::unique_ptr<FileMeta> wanted(static_cast<FileMeta*>(posted[0].data));
    std::unique_ptr<AddSourceRecord> source(static_cast<AddSourceRecord*>(posted[1].data));
    EXPECT_STREQ(wanted->name(), "x.txt");
    EXPECT_TRUE(wanted->fileHash().equals(support::hashOf(7)));
    EXPECT_TRUE(source->hash.equals(support::hashOf(7)));
    EXPECT_TRUE(source->user.sameUser(&amy));
}

TEST_F(FriendCommandsTest, AfrAndRfr) {
    UserMeta amy = makeUser("amy", ipFromText("203.0.113.1"), 4662, 0x11);
    UserMeta bob = makeUser("bob", ipFromText("203.0.113.2"), 4662, 0x12);
    connect(amy);
    connect(bob);
    EXPECT_EQ(run(afr_command, "afr"), (Lines{"invalid peer index: "}));
    EXPECT_EQ(run(afr_command, "afr 0"), Lines{});
    EXPECT_EQ(run(afr_command, "afr 3"), Lines{});
    EXPECT_EQ(friendList()->count(), 0);
    EXPECT_EQ(run(afr_command, "afr 2"), (Lines{"added friend."}));
    EXPECT_EQ(run(afr_command, "afr 2"), (Lines{"added friend."}));
    ASSERT_EQ(friendList()->count(), 1);
    UserMeta stored;
    ASSERT_TRUE(friendList()->friendAt(1, &stored));
    EXPECT_TRUE(stored.userHash().equals(bob.userHash()));
    EXPECT_EQ(stored.ip(), bob.ip());

    EXPECT_EQ(run(rfr_command, "rfr 0"), Lines{});
    EXPECT_EQ(run(rfr_command, "rfr 2"), Lines{});
    EXPECT_EQ(friendList()->count(), 1);
    EXPECT_EQ(run(rfr_command, "rfr 1"), Lines{});
    EXPECT_EQ(friendList()->count(), 0);
}

TEST_F(FriendCommandsTest, MessageAndFfriendTakePortsOneTo65535) {
    const std::string invalid = "Invalid arguments";
    struct Case {
        const char* line;
        bool valid;
        uint16_t port;
    } cases[] = {
        {"x", false, 0},
        {"x 10.1.2.3", false, 0},
        {"x 10.1.2.3 0", false, 0},
        {"x 10.1.2.3 -1", false, 0},
        {"x 10.1.2.3 port", false, 0},
        {"x 10.1.2.3 65536", false, 0},
        {"x 10.1.2.3 70000", false, 0},
        {"x 10.1.2.3 1", true, 1},
        {"x 10.1.2.3 65535", true, 65535},
    };
    for (const Case& c : cases) {
        Lines said = run(message_command, c.line);
        std::vector<Message> posted = bus_.take(MSG_PRIVATE_MESSAGE);
        if (!c.valid) {
            EXPECT_EQ(said, Lines{invalid}) << c.line;
            EXPECT_TRUE(posted.empty()) << c.line;
        } else {
            EXPECT_EQ(said, Lines{}) << c.line;
            ASSERT_EQ(posted.size(), 1u) << c.line;
            std::unique_ptr<UserMeta> user(static_cast<UserMeta*>(posted[0].data));
            EXPECT_EQ(user->ip(), ipFromText("10.1.2.3")) << c.line;
            EXPECT_EQ(user->port(), c.port) << c.line;
        }
        int friends = friendList()->count();
        said = run(ffriend_command, c.line);
        EXPECT_EQ(said, Lines{c.valid ? "forced friend." : invalid}) << c.line;
        EXPECT_EQ(friendList()->count(), friends + (c.valid ? 1 : 0)) << c.line;
    }
    UserMeta stored;
    ASSERT_TRUE(friendList()->friendAt(2, &stored));
    EXPECT_EQ(stored.port(), 65535);
}

}  // namespace

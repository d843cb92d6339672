// The friend list: listing requests per connect result, the pending
// request's own copies, directory and file lists from friends and
// strangers, peer events, and friend.met.
#include <gtest/gtest.h>

#include <functional>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "core/net/socket_pool.h"
#include "core/options/core_options.h"
#include "core/startup/core_thread.h"
#include "support/bytes.h"
#include "support/files.h"
#include "transfer/friends/friend_world_fixture.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"

namespace transfertest {
namespace {

using Lines = std::vector<std::string>;

std::vector<OwnedString> names(std::initializer_list<const char*> list) {
    std::vector<OwnedString> out;
    for (const char* name : list) out.emplace_back(name);
    return out;
}

std::unique_ptr<FileList> filesNamed(std::initializer_list<const char*> list, uint8_t firstHash = 1) {
    auto files = std::make_unique<FileList>();
    uint8_t hash = firstHash;
    for (const char* name : list) {
        auto* record = new FileMeta();
        record->setSpecial(ST_NAME, name);
        record->setFileHash(hashOf(hash++));
        files->MetaList::add(record);
    }
    return files;
}

int stateOf(FriendList* list, int index) {
    UserMeta out;
    return list->friendAt(index, &out) ? out.friendState() : -1;
}

class FriendListTest : public FriendWorld {};

TEST_F(FriendListTest, ListingRequestPerConnectResult) {
    const uint32_t high = ipFromText("198.51.100.20");
    const int door = transferOptions()->doorPort();
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta bob = highUser("bob", 2, 4662, 0x12);
    UserMeta carl = makeUser("carl", 7, 4662, 0x13);
    carl.setBuddyIp(ipFromText("192.0.2.9"));
    UserMeta dan = makeUser("dan", high, static_cast<uint16_t>(door), 0x14);
    UserMeta eve = makeUser("eve", 0, 4662, 0x15);
    UserMeta fay = highUser("fay", 6, 4662, 0x16);
    for (UserMeta* user : {&amy, &bob, &carl, &dan, &eve, &fay}) friends_->addFriend(user);
    Peer* amyPeer = connectPeer(amy);
    // Held, so that making room cannot drop it.
    amyPeer->addRef("test");
    takePrinted();
    struct Case {
        const char* what;
        const UserMeta* user;
        int index;
        uint32_t ownIp;
        int maxCon;
        Lines printed;
        int state;
        size_t dialed;
        bool pending;
    } cases[] = {
        {"0: connected, asked at once", &amy, 1, high, 45, {"Asking amy for file list."}, kFriendConnected, 0, false},
        {"1: connecting", &bob, 2, high, 45, {"Waiting for connection."}, kFriendConnecting, 1, true},
        {"2: both low IDs", &carl, 3, 5, 45, {"Can't connect to User."}, kFriendUnreachable, 0, true},
        {"3: this client", &dan, 4, high, 45, {}, kFriendNotConnected, 0, true},
        {"no address", &eve, 5, high, 45, {"Need to look for user. Not yet implemented."}, kFriendNotConnected, 0,
         true},
        {"4: no room", &fay, 6, high, 1, {}, kFriendNotConnected, 0, true},
    };
    for (const Case& c : cases) {
        coreOptions()->setOwnIP(c.ownIp);
        coreOptions()->setMaxConnections(c.maxCon);
        if (c.maxCon == 1)
            for (int i = 0; i < 2; i++) core_->socketPool()->add(new IdleConnection());
        size_t dialed = dialer_.dialed.size();
        friends_->requestListing(c.user, nullptr);
        EXPECT_EQ(takePrinted(), c.printed) << c.what;
        EXPECT_EQ(stateOf(friends_, c.index), c.state) << c.what;
        EXPECT_EQ(dialer_.dialed.size() - dialed, c.dialed) << c.what;
        EXPECT_EQ(friends_->hasPendingRequest(), c.pending) << c.what;
    }
    // Asked at once, and no use taken for it.
    EXPECT_EQ(amyPeer->queuedPackets(), 1);
    EXPECT_EQ(amyPeer->useCount(), 1);
}

TEST_F(FriendListTest, WaitingRequestGoesOutWhenTheConnectionArrives) {
    UserMeta bob = highUser("bob", 2, 4662, 0x12);
    // Added by address only, as "ffriend" does.
    UserMeta byAddress = makeUser("?", bob.ip(), bob.port(), 0);
    friends_->addFriend(&byAddress);
    friends_->requestListing(&byAddress, nullptr);
    ASSERT_EQ(dialer_.dialed.size(), 1u);
    takePrinted();
    takeLog();

    Peer* peer = connectPeer(bob);
    EXPECT_EQ(takePrinted(), (Lines{"Asking bob for file list."}));
    EXPECT_EQ(peer->queuedPackets(), 1);
    EXPECT_EQ(peer->useCount(), 1);  // kept open for the answer
    EXPECT_FALSE(friends_->hasPendingRequest());
    EXPECT_EQ(takeLog(), (CallLog{"friendsChanged"}));
    UserMeta stored;
    ASSERT_TRUE(friends_->friendAt(1, &stored));
    EXPECT_EQ(stored.friendState(), kFriendConnected);
    EXPECT_STREQ(stored.nickname(), "bob");
    EXPECT_TRUE(stored.userHash().equals(bob.userHash()));

    // Asked once: a new connection of the friend asks nothing more.
    closePeer(peer);
    EXPECT_EQ(stateOf(friends_, 1), kFriendNotConnected);
    Peer* again = connectPeer(bob);
    EXPECT_EQ(again->queuedPackets(), 0);
    EXPECT_EQ(again->useCount(), 0);
}

// The use that keeps a friend's connection open for the answer is given
// back by the answer, whichever it is; an answer from someone else leaves
// it, and a connection that closed first is forgotten.
TEST_F(FriendListTest, TheAnswerGivesTheConnectionsUseBack) {
    struct Case {
        const char* what;
        std::function<void(Peer*)> answer;
    };
    const Case cases[] = {
        {"directory list", [this](Peer* p) { friends_->gotDirectories(p->user(), names({"a"})); }},
        {"files", [this](Peer* p) { friends_->gotFiles(p->user(), "a", filesNamed({"x"})); }},
        {"refusal", [this](Peer* p) { friends_->setViewFlag(p->user(), false); }},
    };
    UserMeta stranger = highUser("zed", 99, 4662, 0x99);
    Peer* other = connectPeer(stranger);
    uint8_t host = 1;
    for (const Case& c : cases) {
        UserMeta user = highUser(c.what, host, 4662, static_cast<uint8_t>(0x10 + host));
        host++;
        friends_->addFriend(&user);
        friends_->requestListing(&user, nullptr);
        Peer* peer = connectPeer(user);
        ASSERT_EQ(peer->useCount(), 1) << c.what;
        friends_->gotDirectories(other->user(), names({"b"}));
        friends_->setViewFlag(other->user(), false);
        EXPECT_EQ(peer->useCount(), 1) << c.what << ": not its answer";
        c.answer(peer);
        EXPECT_EQ(peer->useCount(), 0) << c.what;
        c.answer(peer);
        EXPECT_EQ(peer->useCount(), 0) << c.what << ": given back once";
    }

    UserMeta gone = highUser("gone", 50, 4662, 0x50);
    friends_->addFriend(&gone);
    friends_->requestListing(&gone, nullptr);
    closePeer(connectPeer(gone));
    Peer* again = connectPeer(gone);
    friends_->gotDirectories(again->user(), names({"a"}));
    EXPECT_EQ(again->useCount(), 0);
}

TEST_F(FriendListTest, PendingRequestKeepsItsOwnCopies) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta bob = highUser("bob", 2, 4662, 0x12);
    friends_->addFriend(&amy);
    friends_->addFriend(&bob);
    friends_->gotDirectories(&amy, names({"/a", "/b"}));

    // A request for the files of /a waits; a new directory list replaces
    // the cache that named it.
    friends_->showFiles(&amy, "/a", false);
    EXPECT_EQ(takePrinted(), (Lines{"Waiting for connection.", "fetching requested files..."}));
    friends_->gotDirectories(&amy, names({"/c"}));
    UserMeta who;
    OwnedString directory;
    ASSERT_TRUE(friends_->pendingRequest(&who, &directory));
    EXPECT_STREQ(directory.c_str(), "/a");
    EXPECT_TRUE(who.sameUser(&amy));
    Peer* amyPeer = connectPeer(amy);
    EXPECT_EQ(amyPeer->queuedPackets(), 1);
    EXPECT_EQ(takePrinted(), (Lines{"Asking amy for file list."}));

    // A request for a friend that is removed goes with it.
    friends_->requestListing(&bob, nullptr);
    ASSERT_TRUE(friends_->hasPendingRequest());
    friends_->removeFriend(2);
    EXPECT_FALSE(friends_->hasPendingRequest());
    takeLog();
    Peer* bobPeer = connectPeer(bob);
    EXPECT_EQ(bobPeer->queuedPackets(), 0);
    EXPECT_EQ(takeLog(), (CallLog{"peerConnected bob"}));
    // Out of range: nothing.
    friends_->removeFriend(0);
    friends_->removeFriend(2);
    EXPECT_EQ(friends_->count(), 1);
}

TEST_F(FriendListTest, DirectoryListsOnlyFromFriends) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta zed = highUser("zed", 9, 4662, 0x19);
    friends_->addFriend(&amy);
    takeLog();
    friends_->gotDirectories(&amy, names({"/a", "/b"}));
    friends_->gotFiles(&amy, "/a", filesNamed({"one.txt"}));
    // A new list replaces the old directories and their files.
    friends_->gotDirectories(&amy, names({"/x"}));
    EXPECT_EQ(friends_->directoryCount(&amy), 1);
    OwnedString name;
    ASSERT_TRUE(friends_->directoryAt(&amy, 1, &name));
    EXPECT_STREQ(name.c_str(), "/x");
    EXPECT_FALSE(friends_->directoryAt(&amy, 2, &name));
    EXPECT_EQ(takeLog(), (CallLog{"gotFriendDirs amy", "gotFriendFiles amy /a", "gotFriendDirs amy"}));

    // A stranger's list gives it no place among the friends.
    friends_->gotDirectories(&zed, names({"/z"}));
    EXPECT_FALSE(friends_->isFriend(&zed));
    EXPECT_EQ(friends_->count(), 1);
    EXPECT_EQ(friends_->directoryCount(&zed), -1);
    EXPECT_EQ(takeLog(), CallLog{});
    std::vector<std::string> logged = capture_->logged();
    ASSERT_FALSE(logged.empty());
    EXPECT_NE(logged.back().find("zed"), std::string::npos);
}

TEST_F(FriendListTest, FileListsFillTheNamedDirectory) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta zed = highUser("zed", 9, 4662, 0x19);
    friends_->addFriend(&amy);
    friends_->gotDirectories(&amy, names({"/a"}));
    takeLog();

    // A directory not yet cached is added.
    friends_->gotFiles(&amy, "/new", filesNamed({"one.txt", "two.txt"}));
    EXPECT_EQ(friends_->directoryCount(&amy), 2);
    friends_->showFiles(&amy, "/new", false);
    EXPECT_EQ(takePrinted(), (Lines{"2 files:", "record one.txt", "record two.txt"}));
    // Names compare byte for byte.
    friends_->gotFiles(&amy, "/New", filesNamed({"three.txt"}, 7));
    EXPECT_EQ(friends_->directoryCount(&amy), 3);
    // The same name again replaces the records.
    friends_->gotFiles(&amy, "/new", filesNamed({"four.txt"}, 9));
    friends_->showFiles(&amy, "/new", false);
    EXPECT_EQ(takePrinted(), (Lines{"1 files:", "record four.txt"}));
    std::unique_ptr<FileMeta> copy(friends_->fileCopy(&amy, "/new", 1));
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->name(), "four.txt");
    EXPECT_TRUE(copy->fileHash().equals(hashOf(9)));
    EXPECT_EQ(friends_->fileCopy(&amy, "/new", 2), nullptr);
    EXPECT_EQ(friends_->fileCopy(&amy, "/new", 0), nullptr);
    EXPECT_EQ(takeLog(), (CallLog{"gotFriendFiles amy /new", "gotFriendFiles amy /New", "gotFriendFiles amy /new"}));

    // A stranger's records are dropped.
    friends_->gotFiles(&zed, "/z", filesNamed({"z.txt"}));
    EXPECT_EQ(friends_->count(), 1);
    EXPECT_EQ(takeLog(), CallLog{});

    // The other answers of showFiles.
    friends_->showFiles(&amy, "/zzz", false);
    EXPECT_EQ(takePrinted(), (Lines{"invalid directory name! (/zzz)"}));
    friends_->showFiles(&amy, "/a", false);
    EXPECT_EQ(takePrinted(), (Lines{"Waiting for connection.", "fetching requested files..."}));
    friends_->showFiles(&amy, "/new", true);
    EXPECT_EQ(takePrinted(), (Lines{"Waiting for connection.", "fetching requested files..."}));
}

TEST_F(FriendListTest, ShowDirectoriesListsOrFetches) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    friends_->addFriend(&amy);
    friends_->showFiles(&amy, "/a", false);
    EXPECT_EQ(takePrinted(),
              (Lines{"Waiting for connection.", "can't fetch files without dirs!\nfetching requested dirs..."}));
    friends_->showDirectories(&amy, false);
    EXPECT_EQ(takePrinted(), (Lines{"Waiting for connection.", "fetching requested dirs..."}));
    friends_->gotDirectories(&amy, names({"/a", "/b"}));
    friends_->showDirectories(&amy, false);
    EXPECT_EQ(takePrinted(), (Lines{"2 directories:", "1) /a", "2) /b"}));
    friends_->showDirectories(&amy, true);
    EXPECT_EQ(takePrinted(), (Lines{"Waiting for connection.", "fetching requested dirs..."}));
}

TEST_F(FriendListTest, FriendsAddedOnceAndFollowedThroughTheirConnections) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta zed = highUser("zed", 9, 4662, 0x19);
    friends_->addFriend(&amy);
    friends_->addFriend(&amy);
    // The same hash from another address is the same user.
    UserMeta moved = highUser("amy2", 5, 4663, 0x11);
    friends_->addFriend(&moved);
    EXPECT_EQ(friends_->count(), 1);
    EXPECT_EQ(takeLog(), (CallLog{"friendsChanged"}));

    Peer* amyPeer = connectPeer(amy);
    Peer* zedPeer = connectPeer(zed);
    EXPECT_EQ(stateOf(friends_, 1), kFriendConnected);
    EXPECT_EQ(takeLog(), (CallLog{"friendsChanged", "peerConnected zed"}));
    closePeer(amyPeer);
    closePeer(zedPeer);
    EXPECT_EQ(stateOf(friends_, 1), kFriendNotConnected);
    EXPECT_EQ(takeLog(), (CallLog{"friendsChanged", "peerDisconnected zed"}));

    std::vector<UserMeta> users = friends_->friendUsers();
    ASSERT_EQ(users.size(), 1u);
    EXPECT_STREQ(users[0].nickname(), "amy");
    UserMeta found;
    EXPECT_TRUE(friends_->findByHash(hashOf(0x11), &found));
    EXPECT_STREQ(found.nickname(), "amy");
    EXPECT_FALSE(friends_->findByHash(hashOf(0x12)));
    // An unknown hash names nobody, not even a friend of unknown hash.
    UserMeta unknown = makeUser("u", ipFromText("203.0.113.77"), 1, 0);
    friends_->addFriend(&unknown);
    EXPECT_FALSE(friends_->findByHash(hashOf(0)));
}

// ---- friend.met ----

using support::Bytes;
using support::cat;
using support::id_bytes;
using support::le16;
using support::le32;
using support::text;

Bytes nameTag(const std::string& name) {
    return cat({{2}, le16(1), {1}, le16(static_cast<uint16_t>(name.size())), text(name)});
}

TEST_F(FriendListTest, FriendMetIsTheUserListFileForm) {
    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    UserMeta lou = makeUser("lou", 7, 4000, 0x22);  // low ID
    lou.setBuddyIp(ipFromText("192.0.2.9"));
    friends_->addFriend(&amy);
    friends_->addFriend(&lou);
    friends_->gotDirectories(&amy, names({"/a"}));
    Peer* peer = connectPeer(amy);
    (void)peer;
    const std::string path = dir_.path() + "/friend.met";
    ASSERT_TRUE(friends_->save(path.c_str()));
    Bytes expected = cat({{14}, le32(2), le32(amy.ip()), le16(4662), id_bytes(hashOf(0x11)), le32(1), nameTag("amy"),
                          le32(0), le16(0), id_bytes(hashOf(0x22)), le32(1), nameTag("lou")});
    EXPECT_EQ(support::read_bytes(path), expected);

    // Load then save gives the same bytes; states and caches are not kept.
    friends_->clear();
    EXPECT_EQ(friends_->load(path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(friends_->count(), 2);
    EXPECT_EQ(stateOf(friends_, 1), kFriendNotConnected);
    EXPECT_EQ(friends_->directoryCount(&amy), 0);
    const std::string again = dir_.path() + "/again.met";
    ASSERT_TRUE(friends_->save(again.c_str()));
    EXPECT_EQ(support::read_bytes(again), expected);
}

TEST_F(FriendListTest, DamagedFriendMetIsKeptAsideAndTheListStartsEmpty) {
    const std::string path = dir_.path() + "/friend.met";
    // Missing: silent.
    EXPECT_EQ(friends_->load(path.c_str()), MetaListLoad::kMissing);
    EXPECT_EQ(takePrinted(), Lines{});

    UserMeta amy = highUser("amy", 1, 4662, 0x11);
    friends_->addFriend(&amy);
    ASSERT_TRUE(friends_->save(path.c_str()));
    Bytes whole = support::read_bytes(path);
    Bytes cut(whole.begin(), whole.end() - 2);
    support::write_file(path, support::as_text(cut));
    friends_->clear();
    EXPECT_EQ(friends_->load(path.c_str()), MetaListLoad::kFailed);
    EXPECT_EQ(friends_->count(), 0);
    // The record reader's own lines come first.
    Lines said = takePrinted();
    ASSERT_GE(said.size(), 2u);
    EXPECT_EQ(said[said.size() - 2], "Error loading: " + path);
    EXPECT_NE(said.back().find(path + ".corrupt"), std::string::npos);
    EXPECT_EQ(support::read_bytes(path + ".corrupt"), cut);
    EXPECT_FALSE(support::file_exists(path));

    // A save that cannot be written says so.
    const std::string nowhere = dir_.path() + "/missing/friend.met";
    EXPECT_FALSE(friends_->save(nowhere.c_str()));
    EXPECT_EQ(takePrinted(), (Lines{"Couldn't save " + nowhere}));
}

}  // namespace
}  // namespace transfertest

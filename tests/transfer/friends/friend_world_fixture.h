// The peer world with the real friend list and message pool: both made for
// the test, registered with the peer pool and installed as the peer
// protocol's friends and messages. Connects go to a fake dialer; listed
// peers without sockets stand for connected users, and the records they
// queue are counted. The console's record table is replaced by a printer
// that prints one line per record name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/process_objects.h"
#include "transfer/friends/friend_list.h"
#include "transfer/messages/message_pool.h"
#include "transfer/peer/peer_world_fixture.h"

namespace transfertest {

class FriendWorld : public PeerWorld {
protected:
    void SetUp() override;
    void TearDown() override;

    // A listed peer of that user (no socket; persistent, so that nothing
    // queues a close when no one holds it; deleted at the end of the
    // test unless closed before). Every handler hears newPeer.
    Peer* connectPeer(const UserMeta& user, bool persistent = true);
    // The peer is destroyed: every handler hears peerClosed.
    void closePeer(Peer* peer);
    // The lines printed since the last call.
    std::vector<std::string> takePrinted();
    // The transfer UI's calls since the last call (other sides' calls are
    // dropped too).
    CallLog takeLog();

    // After the peer world's objects: made after them, destroyed after them.
    std::optional<support::ProcessObjects> friendObjects_;
    FakeDialer dialer_;
    std::vector<Peer*> listed_;
    FriendList* friends_ = nullptr;
    MessagePool* messages_ = nullptr;
    size_t printedSeen_ = 0;
};

// A user with a high ID: 203.0.113.<host>, that port and hash byte.
UserMeta highUser(const char* nickname, uint8_t host, uint16_t port, uint8_t hashByte);

}  // namespace transfertest

// ClientPool: the one place through which connections to other clients are
// made, found, counted and dropped. It lists every Peer that finished its
// hello and tells the PeerEventHandlers (registered at start-up, called in
// registration order) of new peers, closed peers and failed attempts. It
// owns neither its handlers nor its peers.
//
// The process-wide pool is made and destroyed explicitly by start-up and
// shutdown (createInstance / destroyInstance); it must outlive the socket
// pool, whose peers leave it as they are deleted.
//
// Threads: everything runs on the task thread, except removePeer for an
// outgoing peer whose connect failed (its connect thread; never listed).
// The lists are locked; handlers are called without the lock, so they may
// call back into the pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "transfer/peer/log_rate.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Peer;
class PeerEventHandler;
class SourcePeer;
class TCPConnection;
class UniqueID;
class UserMeta;

// The seam through which the pool opens outgoing connections.
class PeerDialer {
public:
    virtual ~PeerDialer() = default;
    // Takes the peer over: it is connected on a thread of its own and joins
    // the socket pool, or it is deleted (after Peer::connectFailed when the
    // attempt fails). False, with the peer deleted, while another attempt
    // to the same address and port is under way.
    virtual bool dial(Peer* peer) = 0;
};

class ClientPool {
public:
    // Results of connect.
    static constexpr int kConnected = 0;   // out is the listed connection
    static constexpr int kConnecting = 1;  // newPeer or connectFailed follows
    static constexpr int kBothLowId = 2;   // nobody can call: nothing follows
    static constexpr int kNotCalled = 3;   // this client, or no call-back asked
    static constexpr int kNoRoom = 4;      // too many connections

    ClientPool() = default;
    ClientPool(const ClientPool&) = delete;
    ClientPool& operator=(const ClientPool&) = delete;

    static ClientPool* instance();
    // Keeps an existing pool.
    static void createInstance();
    static void destroyInstance();

    void addHandler(PeerEventHandler* handler);
    // The handler hears nothing more.
    void removeHandler(PeerEventHandler* handler);
    // Connects to the user (see the results above).
    int connect(UserMeta* user, Peer** out, bool persistent);
    // The first listed peer of the same user (same address, or the same
    // non-zero user hash), or null.
    Peer* findByUser(const UserMeta* user);
    Peer* findByUserHash(const UniqueID& hash);
    // Copies the user record of the listed peer at that place (0-based, in
    // joining order); false when there is none.
    bool userAt(int index, UserMeta* out);
    // The listed peer at that place (0-based, in joining order), or null.
    // Task thread, where peers are deleted: valid until the caller's step
    // ends.
    Peer* peerAt(int index);
    // Each listed peer in joining order, under the pool's lock: fn must not
    // call back into the pool.
    void forEachPeer(const std::function<void(Peer*)>& fn);
    bool contains(const TCPConnection* connection);
    // Whether a listed peer has that face (Peer::sourceFace).
    bool containsFace(const SourcePeer* face);
    // Listed, or being reported closed to the handlers right now (a
    // handler's peerClosed still meets its connection as a peer).
    bool isPeer(const TCPConnection* connection);
    // Whether the record describes this client.
    bool isSelf(const UserMeta* user);
    // Closes peers without holders, in list order, until the socket pool's
    // connection count is back to "maxCon"; false when it cannot be.
    bool makeRoom();
    // A peer finished its hello: it is listed and offered to every handler.
    void addPeer(Peer* peer);
    // A peer is being destroyed: when it was listed, it is unlinked and
    // every handler hears peerClosed.
    void removePeer(Peer* peer);
    // Every handler hears connectFailed.
    void notifyConnectFailed(uint32_t ip, uint16_t port);
    // Nothing to do: peers still open close with the socket pool.
    void shutdown() {}

    // Tests: connects go to the dialer (not owned); null puts the core's
    // connector back.
    void setDialer(PeerDialer* dialer) { dialer_.store(dialer); }
    int peerCount();

    // The directory-list log lines: at most a handful per peer address a
    // minute, whatever directories it names and whatever user it says it
    // is, one per address and directory a minute, and at most
    // kDirectoryLogLines a minute of all peers together; the addresses of
    // the last minute's lines are remembered, the least recent given up
    // beyond kDirectoryLogPeers.
    static constexpr int64_t kDirectoryLogWindowMs = 60000;
    static constexpr int kDirectoryLogLinesPerPeer = 5;
    static constexpr size_t kDirectoryLogPeers = 1024;
    static constexpr size_t kDirectoryLogLines = 1024;
    LogRate& directoryLogRate() { return directoryLogRate_; }

private:
    std::vector<PeerEventHandler*> handlersCopy();
    std::vector<Peer*> peersCopy();
    bool dial(Peer* peer);

    SysMutex lock_;  // handlers_ and peers_
    std::vector<PeerEventHandler*> handlers_ TS_GUARDED_BY(lock_);
    std::vector<Peer*> peers_ TS_GUARDED_BY(lock_);
    // Unlisted peers whose peerClosed is being handed out.
    std::vector<Peer*> closing_ TS_GUARDED_BY(lock_);
    std::atomic<PeerDialer*> dialer_{nullptr};
    LogRate directoryLogRate_{kDirectoryLogWindowMs, kDirectoryLogPeers, kDirectoryLogLinesPerPeer,
                              kDirectoryLogLines};
};

inline ClientPool* clientPool() { return ClientPool::instance(); }

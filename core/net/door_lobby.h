// DoorLobby: the accepted connections of one door that have not been
// admitted yet (a peer whose hello is not done, a controller that has not
// logged in), oldest first. The door keeps the lobby small so that
// connections left silent cannot hold it shut: one address has at most
// kMaxWaitingPerAddress connections waiting, and a newcomer that finds no
// room displaces the oldest waiting connection instead of being refused.
// Admitted connections are never in the lobby, so they are never displaced.
//
// Each waiting connection holds a seat (LobbySeat) that shares the lobby,
// so the lobby outlives a door that closes before its connections go.
// Task thread only.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

class Connection;

class DoorLobby {
public:
    static constexpr int kMaxWaitingPerAddress = 8;

    DoorLobby() = default;
    DoorLobby(const DoorLobby&) = delete;
    DoorLobby& operator=(const DoorLobby&) = delete;

    // The connection, accepted from the IPv4 address, waits at the back.
    void enter(Connection* connection, uint32_t ip);
    // Takes the connection out; nothing when it is not waiting.
    void leave(Connection* connection);
    // The oldest waiting connection (of any address, or of the one
    // address), taken out of the lobby; null when there is none.
    Connection* takeOldest();
    Connection* takeOldestFrom(uint32_t ip);

    int waiting() const { return static_cast<int>(order_.size()); }
    int waitingFrom(uint32_t ip) const;

private:
    struct Entry {
        Connection* connection;
        uint32_t ip;
    };
    void erase(std::list<Entry>::iterator at);

    std::list<Entry> order_;  // oldest first
    std::unordered_map<Connection*, std::list<Entry>::iterator> where_;
    // Per address, its waiting connections oldest first (at most
    // kMaxWaitingPerAddress while the door keeps the cap).
    std::unordered_map<uint32_t, std::vector<Connection*>> byAddress_;
};

// A connection's place in its door's lobby: empty until the door seats
// it; leaving, or destroying the seat, takes the connection out.
class LobbySeat {
public:
    LobbySeat() = default;
    LobbySeat(const LobbySeat&) = delete;
    LobbySeat& operator=(const LobbySeat&) = delete;
    ~LobbySeat() { leave(); }

    void take(std::shared_ptr<DoorLobby> lobby, Connection* connection, uint32_t ip);
    void leave();
    bool waiting() const { return lobby_ != nullptr; }

private:
    std::shared_ptr<DoorLobby> lobby_;
    Connection* connection_ = nullptr;
};

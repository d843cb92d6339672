#include "core/net/door_lobby.h"

#include <algorithm>

void DoorLobby::enter(Connection* connection, uint32_t ip) {
    if (connection == nullptr || where_.count(connection) > 0) return;
    order_.push_back({connection, ip});
    where_[connection] = std::prev(order_.end());
    byAddress_[ip].push_back(connection);
}

void DoorLobby::erase(std::list<Entry>::iterator at) {
    auto same = byAddress_.find(at->ip);
    if (same != byAddress_.end()) {
        std::vector<Connection*>& list = same->second;
        list.erase(std::remove(list.begin(), list.end(), at->connection), list.end());
        if (list.empty()) byAddress_.erase(same);
    }
    where_.erase(at->connection);
    order_.erase(at);
}

void DoorLobby::leave(Connection* connection) {
    auto found = where_.find(connection);
    if (found != where_.end()) erase(found->second);
}

Connection* DoorLobby::takeOldest() {
    if (order_.empty()) return nullptr;
    Connection* oldest = order_.front().connection;
    erase(order_.begin());
    return oldest;
}

Connection* DoorLobby::takeOldestFrom(uint32_t ip) {
    auto same = byAddress_.find(ip);
    if (same == byAddress_.end() || same->second.empty()) return nullptr;
    Connection* oldest = same->second.front();
    leave(oldest);
    return oldest;
}

int DoorLobby::waitingFrom(uint32_t ip) const {
    auto same = byAddress_.find(ip);
    return same == byAddress_.end() ? 0 : static_cast<int>(same->second.size());
}

void LobbySeat::take(std::shared_ptr<DoorLobby> lobby, Connection* connection, uint32_t ip) {
    leave();
    if (!lobby || connection == nullptr) return;
    lobby_ = std::move(lobby);
    connection_ = connection;
    lobby_->enter(connection, ip);
}

void LobbySeat::leave() {
    if (lobby_) lobby_->leave(connection_);
    lobby_.reset();
    connection_ = nullptr;
}

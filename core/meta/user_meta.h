// UserMeta: the record of one client: user hash, IPv4 address and TCP
// port, its buddy's address and port, tags (nickname, client version) and
// two flags held only in memory. An IP below 16,777,216 (last dotted
// octet 0) is a low ID: the client is reached only through its buddy.
//
// File form (pref.met, friend.met, uploadq.dat), little-endian:
//   u32 IP (0 for a low ID) | u16 port (0 for a low ID) | 16 user hash | Meta form
// Wire form (hellos):
//   16 user hash | u32 IP | u16 port | Meta form
#pragma once

#include <cstdint>

#include "core/meta/meta.h"
#include "v4ada/containers/unique_id.h"

constexpr uint32_t kLowIdLimit = 16777216;
constexpr int kUserMetaWireFixed = 22;  // hash + IP + port before the tags

class UserMeta : public Meta {
public:
    UserMeta() = default;
    UserMeta(const UserMeta& other);
    UserMeta& operator=(const UserMeta& other);

    bool toNetwork(i4_file* file) override;
    // A record sent by a peer: above kPeerUserMaxTags tags or
    // kPeerUserMaxTagBytes of tags it fails.
    bool fromNetwork(i4_file* file) override;
    bool toDisk(i4_file* file) override;
    bool fromDisk(i4_file* file) override;
    int wireSize() override;

    // Tags, addresses, ports, hash and flags (null or this: nothing).
    void assign(const UserMeta* other);

    // ST_NAME; a record without one gets "????" first.
    const char* nickname();
    void setNickname(const char* name);
    // Same address (with the buddy's for a low ID), or the same non-zero
    // user hash.
    bool sameUser(const UserMeta* other) const;
    bool isLowId() const { return ip_ < kLowIdLimit; }

    uint32_t ip() const { return ip_; }
    void setIp(uint32_t ip) { ip_ = ip; }
    uint32_t buddyIp() const { return buddyIp_; }
    void setBuddyIp(uint32_t ip) { buddyIp_ = ip; }
    uint16_t port() const { return port_; }
    void setPort(uint16_t port) { port_ = port; }
    uint16_t buddyPort() const { return buddyPort_; }
    void setBuddyPort(uint16_t port) { buddyPort_ = port; }
    const UniqueID& userHash() const { return userHash_; }
    void setUserHash(const UniqueID& hash) { userHash_ = hash; }
    int32_t helloVerified() const { return helloVerified_; }
    void setHelloVerified(int32_t verified) { helloVerified_ = verified; }
    int32_t friendState() const { return friendState_; }
    void setFriendState(int32_t state) { friendState_ = state; }

private:
    uint32_t ip_ = 0;
    uint32_t buddyIp_ = 0;
    uint16_t port_ = 0;
    uint16_t buddyPort_ = 0;
    UniqueID userHash_;
    int32_t helloVerified_ = 0;
    int32_t friendState_ = 0;
};

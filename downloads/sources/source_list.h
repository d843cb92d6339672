// SourceList: the users this client asked for an upload slot (one
// ICLT_UPLOAD_REQUEST each), with the rank each one last reported and the
// time of the request. One user is asked at most once in 1,199,999 ms,
// whatever the file: the entry is per user. A source whose user was asked
// recently goes straight back to the queue state without connecting.
//
// Times are monotonic milliseconds (64-bit) from the clock seam. Users
// match as UserMeta::sameUser says (address, or a non-zero user hash);
// removeConnection matches by the user hash only.
//
// One process-wide list, made and destroyed explicitly by start-up and
// shutdown. Only the task thread uses it; it takes no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/meta/user_meta.h"

class SourcePeer;
class UniqueID;

struct AskedSource {
    // A copy of the user's record as the connection knew it.
    UserMeta user;
    // The last rank the user reported (ICLT_QUEUE_RANK); 0 at first.
    uint32_t rank = 0;
    // When the request went out, monotonic ms.
    int64_t askedAt = 0;
};

class SourceList {
public:
    // An entry is fresh while it is at most this old; from 1,200,000 ms on
    // it is stale.
    static constexpr int64_t kFreshMs = 1199999;

    SourceList() = default;
    SourceList(const SourceList&) = delete;
    SourceList& operator=(const SourceList&) = delete;

    // The process-wide list, or null.
    static SourceList* instance();
    // Keeps an existing list.
    static void createInstance();
    static void destroyInstance();

    // The first entry of the same user when it is fresh. A stale one met
    // first is deleted and the answer is null.
    AskedSource* find(const UserMeta* user);
    // Unless the connection's user has a fresh entry, the upload request
    // for the file goes out and a new entry is appended. Stale entries are
    // dropped on the way. Nothing for a null connection.
    void askOnce(SourcePeer* connection, const UniqueID& hash);
    // The user's fresh entry takes the rank; nothing without one.
    void setRank(const UserMeta* user, uint32_t rank);
    // The first entry of the same user goes, fresh or not.
    void remove(const UserMeta* user);
    // The first entry with the connection's (non-zero) user hash goes.
    void removeConnection(SourcePeer* connection);
    // The first entry with that IP and TCP port goes.
    void removeAddress(uint32_t ip, uint16_t port);

    size_t size() const { return entries_.size(); }
    // Monotonic milliseconds of the clock seam.
    static int64_t nowMs();

private:
    bool fresh(const AskedSource& entry, int64_t now) const { return now - entry.askedAt <= kFreshMs; }
    void erase(size_t index) { entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index)); }

    std::vector<std::unique_ptr<AskedSource>> entries_;
};

// Service: a record of the overlay's distributed index: a key (serviceId),
// the identifier of what it describes under that key (descId) and tags.
// Kinds the client publishes: keywords (MD4 of a lower-cased word of a file
// name -> file hash, the file's tags), locations (file hash -> own node
// identifier, "loc") and the buddy record (own identifier -> 0x40 0..0,
// "ip" and "port").
//
// Wire form (payload of INODE_PUBLISH and INODE_SEARCHRESULT):
//   0   16  serviceId
//   16  16  descId
//   32  ..  the tags in Meta wire form: u32 count, then each tag
// Services never go to disk.
#pragma once

#include <cstdint>

#include "core/meta/meta.h"
#include "v4ada/containers/unique_id.h"

constexpr int kServiceIdsSize = 32;
// The smallest wire form: both identifiers and a tag count.
constexpr int kServiceMinWireSize = kServiceIdsSize + 4;

// Service stamps count seconds on the monotonic clock: they are compared
// with one another and with this, never shown or stored.
int64_t serviceClockNow();

class Service : public Meta {
public:
    Service() = default;

    bool toNetwork(i4_file* file) override;
    // True when both identifiers and every tag were read.
    bool fromNetwork(i4_file* file) override;
    int wireSize() override { return Meta::wireSize() + kServiceIdsSize; }
    int size() { return wireSize(); }
    // Tags, both identifiers and the stamp of the other service.
    void assign(const Service& other);

    UniqueID serviceId;
    UniqueID descId;
    int64_t stamp = 0;  // time of the last publish as the holder counts it
};

// An entry of the service directory: remembers when it was first seen.
class TimedService : public Service {
public:
    TimedService() : firstSeen(serviceClockNow()) {}

    // Special tag 21 (availability) := publishes per hour over the entry's
    // life: (oldRate x (previousStamp - firstSeen) + 3600) / (stamp -
    // firstSeen + 1), in 64-bit arithmetic with the divisor at least 1,
    // clamped to the int32 range.
    void updateRate(int32_t oldRate, int64_t previousStamp);

    int64_t firstSeen;
    // The directory's order of arrival, for eviction among equal stamps.
    uint64_t arrival = 0;
};

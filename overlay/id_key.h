// IdKey: an identifier as a hash-map key, for the overlay's indexes by
// node identifier (candidates of a lookup, nodes under recheck, the boot
// list while it is merged with the routing table).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "v4ada/containers/unique_id.h"

struct IdKey {
    std::array<uint8_t, kUniqueIdSize> bytes;
    bool operator==(const IdKey& other) const = default;
};

inline IdKey idKey(const UniqueID& id) {
    IdKey key;
    std::memcpy(key.bytes.data(), id.bytes(), kUniqueIdSize);
    return key;
}

struct IdKeyHash {
    size_t operator()(const IdKey& key) const noexcept {
        uint64_t a;
        uint64_t b;
        std::memcpy(&a, key.bytes.data(), 8);
        std::memcpy(&b, key.bytes.data() + 8, 8);
        return static_cast<size_t>(a ^ (b * 0x9E3779B97F4A7C15ull));
    }
};

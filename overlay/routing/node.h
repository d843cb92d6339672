// Node: an overlay contact (identifier, IPv4 address, UDP port and one
// small counter whose meaning its holder sets: missed replies in the
// routing table, boot attempts in the boot list, a lookup state for a
// candidate).
//
// Node record, the form of a node in datagrams and in contact.dat,
// 23 bytes, little-endian:
//   offset  0  16  id, raw bytes
//   offset 16   4  ip, u32 (the address bytes in dotted order)
//   offset 20   2  port, u16
//   offset 22   1  misses, low 8 bits (read back as 0..255)
#pragma once

#include <cstdint>

#include "v4ada/containers/unique_id.h"
#include "v4ada/string/owned_string.h"

class i4_file;

constexpr int kNodeRecordSize = 23;

class Node {
public:
    Node() = default;
    Node(const Node&) = default;
    Node& operator=(const Node&) = default;
    // Nodes of derived kinds (lookup candidates) are deleted through here.
    virtual ~Node() = default;

    // Copies id, ip, port and misses; a null source does nothing.
    void copyFrom(const Node* other);

    // Reads the 23-byte record; input that ends first raises i4_err.
    void read(i4_file* file);
    void write(i4_file* file) const;
    static constexpr int wireSize() { return kNodeRecordSize; }

    // "%d) %s:%d (%s)": misses, dotted address, port, id in hex.
    const char* toString(OwnedString& out) const;

    // True when the other node exists and has the same id.
    bool sameId(const Node* other) const { return other != nullptr && id.equals(other->id); }
    bool hasAddress(uint32_t otherIp, int otherPort) const { return ip == otherIp && port == otherPort; }

    int32_t misses = 0;
    uint32_t ip = 0;
    int32_t port = 0;  // 0..65535
    UniqueID id;
};

// XOR-distance order: true when a's id is nearer to the target than b's,
// comparing (a xor target) with (b xor target) as 128-bit numbers, most
// significant byte first. Equal ids are not nearer; a missing a is never
// nearer, a missing b always farther.
bool isCloser(const UniqueID& target, const Node* a, const Node* b);
bool isCloser(const UniqueID& target, const UniqueID& a, const UniqueID& b);

#include "overlay/routing/node.h"

#include "core/net/ip_text.h"
#include "v4ada/file/file.h"
#include "v4ada/memory/malloc4.h"

void Node::copyFrom(const Node* other) {
    if (other == nullptr || other == this) return;
    id.copy(other->id);
    ip = other->ip;
    port = other->port;
    misses = other->misses;
}

void Node::read(i4_file* file) {
    UniqueID readId;
    readId.read(file);
    uint32_t readIp = file->read_32();
    uint16_t readPort = file->read_16();
    uint8_t readMisses = file->read_8();
    id.copy(readId);
    ip = readIp;
    port = readPort;
    misses = readMisses;
}

void Node::write(i4_file* file) const {
    id.write(file);
    file->write_32(ip);
    file->write_16(static_cast<uint16_t>(port));
    file->write_8(static_cast<uint8_t>(misses & 0xFF));
}

const char* Node::toString(OwnedString& out) const {
    OwnedString address;
    char* hex = id.toHex();
    out.format("%d) %s:%d (%s)", misses, ipToText(ip, address), port, hex);
    i4_free(hex);
    return out.c_str();
}

bool isCloser(const UniqueID& target, const UniqueID& a, const UniqueID& b) {
    const uint8_t* t = target.bytes();
    const uint8_t* x = a.bytes();
    const uint8_t* y = b.bytes();
    for (int i = 0; i < kUniqueIdSize; i++) {
        uint8_t dx = x[i] ^ t[i];
        uint8_t dy = y[i] ^ t[i];
        if (dx != dy) return dx < dy;
    }
    return false;
}

bool isCloser(const UniqueID& target, const Node* a, const Node* b) {
    if (a == nullptr) return false;
    if (b == nullptr) return true;
    return isCloser(target, a->id, b->id);
}

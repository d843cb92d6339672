// UDPPacket: an outgoing datagram:
//   u8 marker (0xE3) | u8 opcode | payload (the rest of the datagram)
// The buffer starts with the marker; the caller writes opcode and payload.
#pragma once

#include <cstdint>

#include "core/net/packet.h"

class i4_address;

class UDPPacket : public Packet {
public:
    // payloadLength counts opcode and payload; destination is a copy of
    // the address (null: the packet has none and fails when sent).
    UDPPacket(int payloadLength, const i4_address* destination, uint8_t marker);
    // The destination resolved from the IPv4 value through networkProtocol.
    UDPPacket(int payloadLength, uint32_t ip, int port, uint8_t marker);
    ~UDPPacket() override;

    // One sendTo of the bytes written; complete only when all went out,
    // partial when the socket took nothing (it would block).
    int send(i4_socket* socket, int* sent) override;

    const i4_address* destination() const { return destination_; }

private:
    i4_address* destination_ = nullptr;  // owned
};

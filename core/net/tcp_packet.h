// TCPPacket: an outgoing frame. The buffer holds the whole frame, header
// included; the caller writes the opcode and payload after the header.
#pragma once

#include <cstdint>

#include "core/net/packet.h"

class TCPPacket : public Packet {
public:
    // payloadLength counts opcode and payload. A packet with closeFlag is
    // never sent: reaching the head of the send queue drops the connection.
    TCPPacket(int payloadLength, uint8_t marker, bool closeFlag = false);

    // Writes the length field from the bytes written so far (for payloads
    // whose size is settled only after writing).
    void finish();

    // A fresh copy of the frame (nothing sent, no close flag).
    Packet* clone() const override;
    // Sends within the write budget and charges it.
    int send(i4_socket* socket, int* sent) override;

    bool closeFlag() const { return closeFlag_; }
    int sentSoFar() const { return sentSoFar_; }
    // Bytes of the frame on the wire: header and everything written.
    int frameSize() const;

private:
    int32_t sentSoFar_ = 0;
    bool closeFlag_;
};

// TCPReadPacket: assembles incoming frames. The header is checked before
// any body memory is taken (marker, and a length of 1..the longest the
// reader accepts, kMaxFrameLength unless a rule narrows it); the body
// buffer then grows with the bytes that actually arrive.
#pragma once

#include <cstdint>

#include "core/net/packet.h"
#include "core/net/tcp_frame.h"

class TCPReadPacket : public Packet {
public:
    explicit TCPReadPacket(uint8_t marker);
    ~TCPReadPacket() override;

    // Reads within the read budget and charges it. Complete once a whole
    // frame is in; failed on a read error, a closed peer, a wrong marker
    // or a length out of range.
    int read(i4_socket* socket, int* got) override;
    // Frees the body; the next read starts a new frame. The rule stays.
    void reset();
    // The rule for the frames to come: the longest length accepted (at
    // most kMaxFrameLength) and, unless kAnyOpcode, the one opcode
    // allowed. A frame breaking it fails before its body is read: the
    // opcode is read alone and checked first.
    static constexpr int kAnyOpcode = -1;
    void setRule(uint32_t maxLength, int onlyOpcode);

    // The complete body (opcode and payload).
    const uint8_t* body() const { return body_; }
    uint32_t bodyLength() const { return bodyLength_; }
    int headerGot() const { return headerGot_; }
    uint32_t bodyGot() const { return bodyGot_; }

private:
    void grow();

    uint8_t header_[kFrameHeaderSize] = {};
    int32_t headerGot_ = 0;
    uint8_t marker_;
    uint32_t bodyGot_ = 0;
    uint32_t bodyLength_ = 0;
    uint8_t* body_ = nullptr;
    uint32_t bodyCapacity_ = 0;
    uint32_t maxLength_ = kMaxFrameLength;
    int onlyOpcode_ = kAnyOpcode;
};

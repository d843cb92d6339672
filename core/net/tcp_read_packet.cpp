#include "core/net/tcp_read_packet.h"

#include "core/net/budgets.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/net/socket.h"

namespace {
// First allocation of a body; later ones double up to the announced length.
constexpr uint32_t kFirstBodyChunk = 4096;
}  // namespace

TCPReadPacket::TCPReadPacket(uint8_t marker) : Packet(0), marker_(marker) {}

TCPReadPacket::~TCPReadPacket() { i4_free(body_); }

void TCPReadPacket::reset() {
    i4_free(body_);
    body_ = nullptr;
    bodyCapacity_ = 0;
    bodyLength_ = 0;
    bodyGot_ = 0;
    headerGot_ = 0;
    for (uint8_t& b : header_) b = 0;
}

void TCPReadPacket::setRule(uint32_t maxLength, int onlyOpcode) {
    maxLength_ = maxLength < kMaxFrameLength ? maxLength : kMaxFrameLength;
    onlyOpcode_ = onlyOpcode;
}

void TCPReadPacket::grow() {
    uint32_t capacity = bodyCapacity_ == 0 ? kFirstBodyChunk : bodyCapacity_ * 2;
    if (capacity > bodyLength_) capacity = bodyLength_;
    body_ = static_cast<uint8_t*>(i4_realloc(body_, capacity));
    bodyCapacity_ = capacity;
}

int TCPReadPacket::read(i4_socket* socket, int* got) {
    *got = 0;
    if (headerGot_ < kFrameHeaderSize) {
        int count = socket->read(header_ + headerGot_, kFrameHeaderSize - headerGot_);
        if (count < 0) return kFailed;
        if (count == 0) return kPartial;
        *got = count;
        headerGot_ += count;
        if (headerGot_ < kFrameHeaderSize) return kPartial;
        if (header_[0] != marker_) return kFailed;
        bodyLength_ = static_cast<uint32_t>(header_[1]) | static_cast<uint32_t>(header_[2]) << 8 |
                      static_cast<uint32_t>(header_[3]) << 16 | static_cast<uint32_t>(header_[4]) << 24;
        if (bodyLength_ > maxLength_) bodyLength_ = 0;  // refused: nothing is ever read for it
        if (bodyLength_ == 0) return kFailed;
        bodyGot_ = 0;
    }
    int64_t n = static_cast<int64_t>(bodyLength_) - bodyGot_;
    if (n > readBudget()) n = readBudget();
    if (n <= 0) return kPartial;
    // Memory follows the bytes that arrive: read no further than the
    // buffer in hand, which doubles once it is full.
    if (bodyGot_ == bodyCapacity_) grow();
    if (bodyGot_ + n > bodyCapacity_) n = bodyCapacity_ - bodyGot_;
    // Under an opcode rule the opcode comes alone, to be checked before
    // anything else is read.
    if (bodyGot_ == 0 && onlyOpcode_ != kAnyOpcode) n = 1;
    int count = socket->read(body_ + bodyGot_, static_cast<int>(n));
    if (count < 0) return kFailed;
    if (count == 0) return kPartial;
    chargeReadBudget(count);
    *got += count;
    bodyGot_ += static_cast<uint32_t>(count);
    if (bodyGot_ == 1 && onlyOpcode_ != kAnyOpcode && body_[0] != onlyOpcode_) return kFailed;
    return bodyGot_ == bodyLength_ ? kComplete : kPartial;
}

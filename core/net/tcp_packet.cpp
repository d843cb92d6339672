#include "core/net/tcp_packet.h"

#include <cstring>

#include "core/net/budgets.h"
#include "core/net/tcp_frame.h"
#include "v4ada/net/socket.h"

TCPPacket::TCPPacket(int payloadLength, uint8_t marker, bool closeFlag)
    : Packet((payloadLength < 0 ? 0 : payloadLength) + kFrameHeaderSize), closeFlag_(closeFlag) {
    buffer_->write_8(marker);
    buffer_->write_32(static_cast<uint32_t>(payloadLength < 0 ? 0 : payloadLength));
}

int TCPPacket::frameSize() const {
    i4_pos written = buffer_->written();
    return static_cast<int>(written < kFrameHeaderSize ? kFrameHeaderSize : written);
}

void TCPPacket::finish() {
    uint32_t length = static_cast<uint32_t>(frameSize() - kFrameHeaderSize);
    uint8_t* data = buffer_->data();
    for (int i = 0; i < 4; i++) data[1 + i] = static_cast<uint8_t>(length >> (8 * i));
}

Packet* TCPPacket::clone() const {
    auto copy = new TCPPacket(frameSize() - kFrameHeaderSize, 0);
    copy->buffer()->seek(0);
    copy->buffer()->write(buffer_->data(), frameSize());
    return copy;
}

int TCPPacket::send(i4_socket* socket, int* sent) {
    *sent = 0;
    // The length field always tells the bytes that follow it.
    if (sentSoFar_ == 0) finish();
    int n = frameSize() - sentSoFar_;
    if (n > writeBudget()) n = writeBudget();
    if (n <= 0) return kPartial;
    int count = socket->write(buffer_->data() + sentSoFar_, n);
    if (count < 0) return kFailed;
    if (count == 0) return kPartial;
    chargeWriteBudget(count);
    *sent += count;
    sentSoFar_ += count;
    return sentSoFar_ >= frameSize() ? kComplete : kPartial;
}

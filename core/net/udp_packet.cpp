#include "core/net/udp_packet.h"

#include <memory>

#include "core/net/ip_text.h"
#include "core/net/net_output.h"
#include "core/net/network_protocol.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"

UDPPacket::UDPPacket(int payloadLength, const i4_address* destination, uint8_t marker)
    : Packet((payloadLength < 0 ? 0 : payloadLength) + 1) {
    if (destination != nullptr) destination_ = destination->clone();
    buffer_->write_8(marker);
}

UDPPacket::UDPPacket(int payloadLength, uint32_t ip, int port, uint8_t marker)
    : Packet((payloadLength < 0 ? 0 : payloadLength) + 1) {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) {
        net_print_raw("ERROR: prot NULL 1\n");
        return;
    }
    OwnedString text;
    destination_ = protocol->resolve(ipToText(ip, text));
    if (destination_ != nullptr) destination_->setPort(port);
    buffer_->write_8(marker);
}

UDPPacket::~UDPPacket() { delete destination_; }

int UDPPacket::send(i4_socket* socket, int* sent) {
    *sent = 0;
    int length = static_cast<int>(buffer_->written());
    if (destination_ == nullptr || length <= 0) return kFailed;
    int count = socket->sendTo(buffer_->data(), length, destination_);
    // Nothing taken: the socket would block, and the datagram may be tried
    // again.
    if (count == 0) return kPartial;
    if (count > 0) *sent = count;
    return count == length ? kComplete : kFailed;
}

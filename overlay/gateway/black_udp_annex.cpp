#include "overlay/gateway/black_udp_annex.h"

#include "core/net/ip_text.h"
#include "overlay/gateway/flock_gateway.h"
#include "v4ada/net/address.h"

BlackUDPAnnex::BlackUDPAnnex(i4_socket* socket, uint8_t marker, FlockGateway* gateway)
    : UDPDynamicAnnex(socket, marker), gateway_(gateway) {}

void BlackUDPAnnex::disown() {
    gateway_ = nullptr;
    for (int opcode = 0; opcode < 256; opcode++) setHandler(nullptr, static_cast<uint8_t>(opcode));
}

void BlackUDPAnnex::handleDatagram(i4_ram_file_class* datagram) {
    const i4_address* sender = lastSender();
    if (gateway_ == nullptr || !gateway_->running() || sender == nullptr) return;
    if (gateway_->isBlacklisted(addressToIp(sender), sender->port())) return;
    UDPDynamicAnnex::handleDatagram(datagram);
}

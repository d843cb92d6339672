// BlackUDPAnnex: the overlay's datagram endpoint. Each datagram that
// begins with the marker goes, by its opcode, to the handler entered for
// it, unless its sender's address and port are on the gateway's blacklist
// or the gateway is not running; opcodes without a handler are dropped.
#pragma once

#include "core/net/udp_annex.h"

class FlockGateway;

class BlackUDPAnnex : public UDPDynamicAnnex {
public:
    // Over a datagram socket already bound (owned from here).
    BlackUDPAnnex(i4_socket* socket, uint8_t marker, FlockGateway* gateway);
    ~BlackUDPAnnex() override = default;

    // The gateway lets the endpoint go: every handler is forgotten and
    // every later datagram dropped.
    void disown();
    FlockGateway* gateway() const { return gateway_; }

protected:
    void handleDatagram(i4_ram_file_class* datagram) override;

private:
    FlockGateway* gateway_;
};

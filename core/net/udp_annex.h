// UDPAnnex: the one datagram endpoint in the pool. It receives datagrams
// into one buffer and keeps those that begin with its marker; queued
// packets go out one per writable service. UDPDynamicAnnex hands each kept
// datagram to the handler registered for its opcode (its second byte).
#pragma once

#include <cstdint>

#include "core/net/clocked_connection.h"
#include "v4ada/containers/ll_safe.h"
#include "v4ada/file/ram_file.h"

class i4_address;
class UDPAnnex;
class UDPPacket;

class UDPMessageHandler {
public:
    virtual ~UDPMessageHandler() = default;
    // The datagram positioned after its opcode; the view ends where the
    // datagram ends, so reading past it raises i4_err.
    virtual bool handle(uint8_t opcode, UDPAnnex* annex, i4_ram_file_class* datagram, const i4_address* sender) = 0;
};

class UDPAnnex : public ClockedConnection {
public:
    // Largest datagram taken; longer ones are dropped.
    static constexpr int kReceiveBufferSize = 3072;
    // Datagrams taken from the socket in one service at most.
    static constexpr int kMaxDatagramsPerService = 64;

    // A datagram socket listening on the port through networkProtocol.
    // Raises i4_err "couldn't create UDPAnnex: prot null" without a
    // protocol and "couldn't create UDPAnnex" without a socket.
    UDPAnnex(int port, int timeoutMs, uint8_t marker);
    // An endpoint over a datagram socket already bound (owned from here).
    UDPAnnex(i4_socket* socket, uint8_t marker);
    ~UDPAnnex() override;

    bool doTask() override;
    const char* status(OwnedString& out) override;
    // Writable only while datagrams wait to be sent.
    int wantedFlags() override;

    // Any thread: the annex owns the packet from here on.
    void send(UDPPacket* packet);
    int queuedPackets() { return outQueue_.count(); }

    // The sender of the datagram being handled; null between datagrams.
    const i4_address* lastSender() const { return lastSender_; }
    uint8_t marker() const { return marker_; }

protected:
    // One datagram that began with the marker, positioned after it.
    virtual void handleDatagram(i4_ram_file_class* datagram) = 0;

private:
    void receive();
    void writeOne();
    void clearSender();

    i4_address* lastSender_ = nullptr;
    // One byte more than is kept: a datagram that fills it was longer.
    uint8_t* receiveBuffer_;
    LLsafe outQueue_;
    uint8_t marker_;
};

class UDPDynamicAnnex : public UDPAnnex {
public:
    UDPDynamicAnnex(int port, int timeoutMs, uint8_t marker) : UDPAnnex(port, timeoutMs, marker) {}
    UDPDynamicAnnex(i4_socket* socket, uint8_t marker) : UDPAnnex(socket, marker) {}

    // handlers[opcode] := handler (not owned); a later call replaces it.
    void setHandler(UDPMessageHandler* handler, uint8_t opcode) { handlers_[opcode] = handler; }

protected:
    void handleDatagram(i4_ram_file_class* datagram) override;

private:
    UDPMessageHandler* handlers_[256] = {};
};

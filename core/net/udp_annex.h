// UDPAnnex: the one datagram endpoint in the pool. It receives datagrams
// into one buffer and keeps those that begin with its marker. Queued
// packets go out in the order they were queued, as many per service as the
// socket takes (up to kMaxSendsPerService), so answers keep pace with the
// datagrams read. UDPDynamicAnnex hands each kept datagram to the handler
// registered for its opcode (its second byte).
//
// The send queue is bounded by bytes. An answer (a datagram queued while a
// received datagram is handled, to that datagram's sender) is dropped when
// the answers already hold kMaxAnswerBytes or the queue is full; the
// node's own datagrams push the oldest answers out of a full queue and are
// dropped only when no answer is left to push out. A flood of requests
// thus costs its senders their answers, not the node its own traffic.
#pragma once

#include <cstdint>
#include <deque>

#include "core/net/clocked_connection.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/threads/linux/sys_mutex.h"

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
    // Datagrams sent in one service at most: twice what one service reads,
    // so a handler may answer with more than one datagram and still keep
    // pace. Past the first, sends also stop once the write budget is spent.
    static constexpr int kMaxSendsPerService = 2 * kMaxDatagramsPerService;
    // What a queued datagram costs against the bounds: its bytes plus
    // kQueuedPacketCost for the packet and its address.
    static constexpr int64_t kQueuedPacketCost = 64;
    static constexpr int64_t kMaxQueuedBytes = int64_t{1} << 20;
    static constexpr int64_t kMaxAnswerBytes = int64_t{64} << 10;

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

    // Any thread: the annex owns the packet from here on (it may delete it
    // at once when the queue has no room for it).
    void send(UDPPacket* packet);
    // Any thread.
    int queuedPackets();
    // Whether packets wait to be sent: the endpoint wants the socket's
    // writable readiness while this holds. Any thread.
    bool sendPending() { return queuedPackets() > 0; }
    // Whether the last send found the socket full (the head stays queued
    // until the socket is writable again). Task thread.
    bool sendBlocked() const { return sendBlocked_; }
    // Cost in bytes of what is queued, all of it and the answers' part.
    int64_t queuedBytes();
    int64_t queuedAnswerBytes();
    // Datagrams dropped for want of room since the endpoint was made.
    uint64_t droppedAnswers();
    uint64_t droppedRequests();

    // The sender of the datagram being handled; null between datagrams.
    const i4_address* lastSender() const { return lastSender_; }
    uint8_t marker() const { return marker_; }

protected:
    // One datagram that began with the marker, positioned after it.
    virtual void handleDatagram(i4_ram_file_class* datagram) = 0;

private:
    struct Queued {
        UDPPacket* packet;
        uint64_t order;  // queueing order across both queues
        int64_t cost;
        bool answer;
    };

    void receive();
    // Sends queued packets while the socket takes them, up to the cap.
    void writeQueued();
    void clearSender();
    // Whether the packet goes to the sender of the datagram this thread is
    // handling in this endpoint.
    bool isAnswer(const UDPPacket* packet) const;
    // The oldest queued packet, taken out of its queue; putBack returns it
    // to the head when the socket did not take it.
    bool takeHead(Queued* out);
    void putBack(const Queued& entry);
    void deleteAll(std::deque<Queued>& queue) TS_REQUIRES(queueLock_);

    i4_address* lastSender_ = nullptr;
    // One byte more than is kept: a datagram that fills it was longer.
    uint8_t* receiveBuffer_;
    uint8_t marker_;
    bool sendBlocked_ = false;

    SysMutex queueLock_;
    std::deque<Queued> answers_ TS_GUARDED_BY(queueLock_);
    std::deque<Queued> requests_ TS_GUARDED_BY(queueLock_);
    uint64_t nextOrder_ TS_GUARDED_BY(queueLock_) = 0;
    int64_t queuedBytes_ TS_GUARDED_BY(queueLock_) = 0;
    int64_t answerBytes_ TS_GUARDED_BY(queueLock_) = 0;
    uint64_t droppedAnswers_ TS_GUARDED_BY(queueLock_) = 0;
    uint64_t droppedRequests_ TS_GUARDED_BY(queueLock_) = 0;
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

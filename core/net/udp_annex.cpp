#include "core/net/udp_annex.h"

#include <memory>

#include "core/net/budgets.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/net/udp_packet.h"
#include "v4ada/error/error.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

UDPAnnex::UDPAnnex(int port, int timeoutMs, uint8_t marker) : marker_(marker) {
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    if (!protocol) error_at(__FILE__, __LINE__)("couldn't create UDPAnnex: prot null");
    i4_socket* socket = protocol->listen(port, timeoutMs, kSocketDatagram, nullptr);
    if (socket == nullptr) error_at(__FILE__, __LINE__)("couldn't create UDPAnnex");
    socket->setBlocking(false);
    setSocket(socket);
    receiveBuffer_ = static_cast<uint8_t*>(i4_malloc(kReceiveBufferSize + 1));
}

UDPAnnex::UDPAnnex(i4_socket* socket, uint8_t marker) : marker_(marker) {
    setSocket(socket);
    receiveBuffer_ = static_cast<uint8_t*>(i4_malloc(kReceiveBufferSize + 1));
}

UDPAnnex::~UDPAnnex() {
    i4_free(receiveBuffer_);
    while (outQueue_.count() > 0) delete static_cast<UDPPacket*>(outQueue_.removeAt(0));
    clearSender();
}

void UDPAnnex::send(UDPPacket* packet) {
    if (packet != nullptr) outQueue_.append(packet);
}

const char* UDPAnnex::status(OwnedString& out) {
    out.format("UDPAnnex (%.2f,%.2f)", receiveAverage(), sendAverage());
    return out.c_str();
}

int UDPAnnex::wantedFlags() { return kReadable | kReadyError | (outQueue_.count() > 0 ? kWritable : 0); }

void UDPAnnex::clearSender() {
    delete lastSender_;
    lastSender_ = nullptr;
}

bool UDPAnnex::doTask() {
    bool worked = false;
    try {
        if (socket_ == nullptr) return false;
        int flags = socket_->checkInSet(pool_->socketSet(), kReadable | kWritable | kReadyError);
        if (flags & kReadyError) return false;  // the error queue is drained; stay in the pool
        if (flags & kReadable) {
            worked = true;
            receive();
        }
        if ((flags & kWritable) && outQueue_.count() > 0) {
            worked = true;
            writeOne();
        }
    } catch (i4_err&) {
    }
    return worked;
}

void UDPAnnex::receive() {
    clearSender();
    for (int taken = 0; taken < kMaxDatagramsPerService && readBudget() > 0; taken++) {
        int n = socket_->receiveFrom(receiveBuffer_, kReceiveBufferSize + 1, &lastSender_);
        if (n <= 0) {
            clearSender();
            break;
        }
        chargeReadBudget(n);
        countReceived(n);
        // A datagram longer than the buffer was cut by the kernel: drop it.
        if (n <= kReceiveBufferSize && receiveBuffer_[0] == marker_) {
            i4_ram_file_class view(receiveBuffer_, n, 0);
            view.seek(1);
            try {
                handleDatagram(&view);
            } catch (i4_err&) {
                // A malformed datagram fails alone.
            }
        }
        clearSender();
    }
}

void UDPAnnex::writeOne() {
    outQueue_.lock();
    auto head = static_cast<UDPPacket*>(outQueue_.first());
    outQueue_.unlock();
    if (head == nullptr) return;
    try {
        int count = 0;
        head->send(socket_, &count);
        countSent(count);
        chargeWriteBudget(count);
    } catch (i4_err&) {
        debug_printf("UDPAnnex::writeToSocket i4_err\n");
    }
    // Tried once, never resent.
    outQueue_.remove(head);
    head->sent();
    delete head;
}

void UDPDynamicAnnex::handleDatagram(i4_ram_file_class* datagram) {
    uint8_t opcode = datagram->read_8();
    UDPMessageHandler* handler = handlers_[opcode];
    if (handler != nullptr) handler->handle(opcode, this, datagram, lastSender());
}

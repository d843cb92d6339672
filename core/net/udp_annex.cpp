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

namespace {
// The endpoint whose received datagram this thread is handling, if any.
thread_local const UDPAnnex* tHandling = nullptr;

class HandlingScope {
public:
    explicit HandlingScope(const UDPAnnex* annex) : saved_(tHandling) { tHandling = annex; }
    ~HandlingScope() { tHandling = saved_; }
    HandlingScope(const HandlingScope&) = delete;
    HandlingScope& operator=(const HandlingScope&) = delete;

private:
    const UDPAnnex* saved_;
};
}  // namespace

UDPAnnex::~UDPAnnex() {
    i4_free(receiveBuffer_);
    {
        SysMutexGuard guard(&queueLock_);
        deleteAll(answers_);
        deleteAll(requests_);
    }
    clearSender();
}

void UDPAnnex::deleteAll(std::deque<Queued>& queue) {
    for (Queued& entry : queue) delete entry.packet;
    queue.clear();
}

bool UDPAnnex::isAnswer(const UDPPacket* packet) const {
    // lastSender_ belongs to the task thread: only the thread handling a
    // datagram of this endpoint looks at it.
    if (tHandling != this || lastSender_ == nullptr) return false;
    const i4_address* to = packet->destination();
    return to != nullptr && to->equals(lastSender_) && to->port() == lastSender_->port();
}

void UDPAnnex::send(UDPPacket* packet) {
    if (packet == nullptr) return;
    const bool answer = isAnswer(packet);
    const int64_t cost = static_cast<int64_t>(packet->buffer()->written()) + kQueuedPacketCost;
    UDPPacket* dropped = nullptr;
    {
        SysMutexGuard guard(&queueLock_);
        if (answer) {
            if (answerBytes_ + cost > kMaxAnswerBytes || queuedBytes_ + cost > kMaxQueuedBytes) {
                droppedAnswers_++;
                dropped = packet;
            } else {
                answers_.push_back({packet, nextOrder_++, cost, true});
                answerBytes_ += cost;
                queuedBytes_ += cost;
            }
        } else {
            // The node's own datagram: the oldest answers make room first.
            while (queuedBytes_ + cost > kMaxQueuedBytes && !answers_.empty()) {
                Queued old = answers_.front();
                answers_.pop_front();
                answerBytes_ -= old.cost;
                queuedBytes_ -= old.cost;
                droppedAnswers_++;
                delete old.packet;
            }
            if (queuedBytes_ + cost > kMaxQueuedBytes) {
                droppedRequests_++;
                dropped = packet;
            } else {
                requests_.push_back({packet, nextOrder_++, cost, false});
                queuedBytes_ += cost;
            }
        }
    }
    delete dropped;
}

int UDPAnnex::queuedPackets() {
    SysMutexGuard guard(&queueLock_);
    return static_cast<int>(answers_.size() + requests_.size());
}

int64_t UDPAnnex::queuedBytes() {
    SysMutexGuard guard(&queueLock_);
    return queuedBytes_;
}

int64_t UDPAnnex::queuedAnswerBytes() {
    SysMutexGuard guard(&queueLock_);
    return answerBytes_;
}

uint64_t UDPAnnex::droppedAnswers() {
    SysMutexGuard guard(&queueLock_);
    return droppedAnswers_;
}

uint64_t UDPAnnex::droppedRequests() {
    SysMutexGuard guard(&queueLock_);
    return droppedRequests_;
}

bool UDPAnnex::takeHead(Queued* out) {
    SysMutexGuard guard(&queueLock_);
    std::deque<Queued>* from = nullptr;
    if (!answers_.empty() && (requests_.empty() || answers_.front().order < requests_.front().order))
        from = &answers_;
    else if (!requests_.empty())
        from = &requests_;
    if (from == nullptr) return false;
    *out = from->front();
    from->pop_front();
    queuedBytes_ -= out->cost;
    if (out->answer) answerBytes_ -= out->cost;
    return true;
}

void UDPAnnex::putBack(const Queued& entry) {
    SysMutexGuard guard(&queueLock_);
    // Its order is below everything queued since: it is the head again.
    (entry.answer ? answers_ : requests_).push_front(entry);
    queuedBytes_ += entry.cost;
    if (entry.answer) answerBytes_ += entry.cost;
}

const char* UDPAnnex::status(OwnedString& out) {
    out.format("UDPAnnex (%.2f,%.2f)", receiveAverage(), sendAverage());
    return out.c_str();
}

int UDPAnnex::wantedFlags() { return kReadable | kReadyError | (sendPending() ? kWritable : 0); }

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
        if ((flags & kWritable) && queuedPackets() > 0) {
            worked = true;
            writeQueued();
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
                HandlingScope handling(this);
                handleDatagram(&view);
            } catch (i4_err&) {
                // A malformed datagram fails alone.
            }
        }
        clearSender();
    }
}

void UDPAnnex::writeQueued() {
    sendBlocked_ = false;
    for (int sends = 0; sends < kMaxSendsPerService; sends++) {
        // The first datagram of a service goes out whatever the budget, as
        // one always did; more only while the budget lasts.
        if (sends > 0 && writeBudget() <= 0) break;
        Queued head{};
        if (!takeHead(&head)) break;
        int result = Packet::kFailed;
        try {
            int count = 0;
            result = head.packet->send(socket_, &count);
            countSent(count);
            chargeWriteBudget(count);
        } catch (i4_err&) {
            debug_printf("UDPAnnex::writeToSocket i4_err\n");
        }
        if (result == Packet::kPartial) {
            // The socket is full: the datagram was not tried and waits at
            // the head until the socket is writable again.
            putBack(head);
            sendBlocked_ = true;
            break;
        }
        // Tried once, never resent.
        head.packet->sent();
        delete head.packet;
    }
}

void UDPDynamicAnnex::handleDatagram(i4_ram_file_class* datagram) {
    uint8_t opcode = datagram->read_8();
    UDPMessageHandler* handler = handlers_[opcode];
    if (handler != nullptr) handler->handle(opcode, this, datagram, lastSender());
}

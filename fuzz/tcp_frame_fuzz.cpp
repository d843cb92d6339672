// Feeds an arbitrary byte stream to the TCP frame reader in pieces and
// parses every complete frame's body through its bounded view.
// Input: byte 0 sets the piece size (1..16), byte 1 the read budget per
// call (0 = no limit); the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/net/budgets.h"
#include "core/net/tcp_read_packet.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/socket.h"

namespace {

class StreamSocket : public i4_socket {
public:
    StreamSocket(const uint8_t* data, size_t size, int piece) : data_(data), size_(size), piece_(piece) {}
    int read(void* buffer, int n) override {
        if (offset_ >= size_) return -1;  // the peer closed
        size_t count = static_cast<size_t>(n < piece_ ? n : piece_);
        if (count > size_ - offset_) count = size_ - offset_;
        std::memcpy(buffer, data_ + offset_, count);
        offset_ += count;
        return static_cast<int>(count);
    }
    int write(const void*, int) override { return -1; }
    bool accept(i4_socket** out) override { *out = nullptr; return false; }
    int receiveFrom(void*, int, i4_address** from) override { *from = nullptr; return -1; }
    int sendTo(const void*, int, const i4_address*) override { return -1; }
    int waitUntil(int, int, i4_progress*) override { return 0; }
    void addToSet(i4_socket_set*, int) override {}
    void removeFromSet(i4_socket_set*) override {}
    int checkInSet(i4_socket_set*, int) override { return 0; }
    bool close() override { return true; }
    void setBlocking(bool) override {}
    i4_tcpip_address* localAddress() override { return nullptr; }
    i4_tcpip_address* peerAddress() override { return nullptr; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    int piece_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int piece = data[0] % 16 + 1;
    int budget = data[1];
    StreamSocket socket(data + 2, size - 2, piece);
    TCPReadPacket reader(0xE3);
    for (int calls = 0; calls < 100000; calls++) {
        budgets_reset();
        if (budget != 0) setReadBudget(budget);
        int got = 0;
        int result = reader.read(&socket, &got);
        if (result == Packet::kFailed) break;
        if (result == Packet::kComplete) {
            i4_ram_file_class body(const_cast<uint8_t*>(reader.body()), reader.bodyLength(), 0);
            try {
                body.read_8();
                while (body.remaining() > 0) body.read_32();
            } catch (i4_err&) {
            }
            reader.reset();
        }
    }
    budgets_reset();
    return 0;
}

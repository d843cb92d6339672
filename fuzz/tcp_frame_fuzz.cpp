// Feeds an arbitrary byte stream to the TCP frame reader in pieces and
// parses every complete frame's body through its bounded view.
// Properties: the frames read, header included, are exactly the start of
// the stream; and each frame written back through an outgoing packet (in
// pieces, within a write budget) gives the same bytes, which read back in
// give the same body.
// Input: byte 0 sets the piece size (1..16), byte 1 the read and write
// budget per call (0 = no limit); the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/net/budgets.h"
#include "core/net/tcp_frame.h"
#include "core/net/tcp_packet.h"
#include "core/net/tcp_read_packet.h"
#include "support/bytes.h"
#include "support/fake_net.h"
#include "v4ada/error/error.h"
#include "v4ada/file/ram_file.h"

namespace {

constexpr int kMaxCalls = 100000;

void check(bool holds) {
    if (!holds) std::abort();
}

// Reads one whole frame from the socket; its body, or "" when none came.
std::string read_frame(support::FakeSocket* socket, int budget) {
    TCPReadPacket reader(kFrameMarker);
    for (int calls = 0; calls < kMaxCalls; calls++) {
        budgets_reset();
        if (budget != 0) setReadBudget(budget);
        int got = 0;
        int result = reader.read(socket, &got);
        if (result == Packet::kFailed) return "";
        if (result == Packet::kComplete)
            return std::string(reinterpret_cast<const char*>(reader.body()), reader.bodyLength());
    }
    return "";
}

// Sends the body as a frame through a socket taking `piece` bytes a write
// and checks the bytes and the read-back body.
void round_trip(const std::string& body, int piece, int budget) {
    TCPPacket packet(static_cast<int>(body.size()), kFrameMarker);
    packet.buffer()->write(body.data(), static_cast<int>(body.size()));
    support::FakeSocket out;
    out.writeLimit = piece;
    int result = Packet::kPartial;
    for (int calls = 0; calls < kMaxCalls && result == Packet::kPartial; calls++) {
        budgets_reset();
        if (budget != 0) setWriteBudget(budget);
        int sent = 0;
        result = packet.send(&out, &sent);
    }
    check(result == Packet::kComplete);
    std::string expected = support::tcp_frame(static_cast<uint8_t>(body[0]), std::string_view(body).substr(1));
    check(out.written == expected);

    support::FakeSocket in;
    in.queueReads(out.written, static_cast<size_t>(piece));
    in.peerClosed = true;
    check(read_frame(&in, budget) == body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    int piece = data[0] % 16 + 1;
    int budget = data[1];
    std::string stream(reinterpret_cast<const char*>(data + 2), size - 2);
    support::FakeSocket socket;
    socket.queueReads(stream, static_cast<size_t>(piece));
    socket.peerClosed = true;

    TCPReadPacket reader(kFrameMarker);
    std::string framed;
    for (int calls = 0; calls < kMaxCalls; calls++) {
        budgets_reset();
        if (budget != 0) setReadBudget(budget);
        int got = 0;
        int result = reader.read(&socket, &got);
        if (result == Packet::kFailed) break;
        if (result == Packet::kComplete) {
            check(reader.bodyLength() >= 1 && reader.bodyLength() <= kMaxFrameLength);
            std::string body(reinterpret_cast<const char*>(reader.body()), reader.bodyLength());
            framed += support::tcp_frame(static_cast<uint8_t>(body[0]), std::string_view(body).substr(1));
            i4_ram_file_class view(const_cast<uint8_t*>(reader.body()), reader.bodyLength(), 0);
            try {
                view.read_8();
                while (view.remaining() > 0) view.read_32();
            } catch (i4_err&) {
            }
            round_trip(body, piece, budget);
            reader.reset();
        }
    }
    check(stream.compare(0, framed.size(), framed) == 0);
    budgets_reset();
    return 0;
}

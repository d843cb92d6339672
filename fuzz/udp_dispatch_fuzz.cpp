// Hands arbitrary datagrams to the datagram endpoint and its dispatch by
// opcode; the handler parses fields through the view it is given and then
// reads every byte the view lets it.
// Property: each handler call sees exactly one datagram that was taken
// (marker, at least an opcode, not over the buffer) with its own opcode
// and payload, in order: nothing of another datagram or beyond its end.
// Input: datagrams, each a u16 LE length (taken modulo 3200) and its bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/net/udp_annex.h"
#include "support/fake_net.h"
#include "v4ada/error/error.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/string/owned_string.h"

namespace {

constexpr uint8_t kMarker = 0xE3;
constexpr int kMaxTicks = 1000;

// Reads a few typed fields and a counted string, as the overlay's
// handlers do, then everything that is left; records what it saw.
class ParsingHandler : public UDPMessageHandler {
public:
    bool handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* view, const i4_address*) override {
        std::string seen(1, static_cast<char>(opcode));
        i4_pos start = view->tell();
        try {
            if (opcode & 1) view->read_32();
            uint16_t count = view->read_16();
            for (int i = 0; i < count; i++) view->read_8();
            OwnedString text(100u, view);
        } catch (i4_err&) {
        }
        view->seek(start);
        try {
            for (;;) seen.push_back(static_cast<char>(view->read_8()));
        } catch (i4_err&) {
        }
        calls.push_back(seen);
        return true;
    }
    std::vector<std::string> calls;  // opcode and payload per call
};

bool has_handler(uint8_t opcode) { return opcode % 3 == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    support::ProtocolScope scope(std::make_shared<support::FakeProtocol>());
    std::vector<std::string> expected;
    {
        support::FakeBandwidth limits;
        STSocketPool pool(&limits);
        auto socket = new support::FakeSocket();
        socket->ready = kReadable;
        size_t offset = 0;
        while (offset + 2 <= size) {
            size_t length = (data[offset] | data[offset + 1] << 8) % 3200;
            offset += 2;
            if (length > size - offset) length = size - offset;
            std::string datagram(reinterpret_cast<const char*>(data + offset), length);
            offset += length;
            socket->datagrams.push_back(datagram);
            if (datagram.size() >= 2 && datagram.size() <= static_cast<size_t>(UDPAnnex::kReceiveBufferSize) &&
                static_cast<uint8_t>(datagram[0]) == kMarker && has_handler(static_cast<uint8_t>(datagram[1])))
                expected.push_back(datagram.substr(1));
        }
        auto annex = new UDPDynamicAnnex(socket, kMarker);
        ParsingHandler handler;
        for (int opcode = 0; opcode < 256; opcode++)
            if (has_handler(static_cast<uint8_t>(opcode))) annex->setHandler(&handler, static_cast<uint8_t>(opcode));
        pool.add(annex);
        pool.applyPending();
        for (int i = 0; i < kMaxTicks && !socket->datagrams.empty(); i++) pool.tick(10);
        if (!socket->datagrams.empty() || handler.calls != expected) std::abort();
    }
    return 0;
}

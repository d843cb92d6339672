// Hands arbitrary datagrams to the datagram endpoint and its dispatch by
// opcode; the handler parses fields through the view it is given.
// Input: datagrams, each a u16 LE length (taken modulo 3200) and its bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "core/net/bandwidth_settings.h"
#include "core/net/network_protocol.h"
#include "core/net/socket_pool.h"
#include "core/net/udp_annex.h"
#include "v4ada/error/error.h"
#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/socket_set.h"
#include "v4ada/string/owned_string.h"

namespace {

class DatagramSocket : public i4_socket {
public:
    std::deque<std::string> datagrams;
    int read(void*, int) override { return -1; }
    int write(const void*, int) override { return -1; }
    bool accept(i4_socket** out) override { *out = nullptr; return false; }
    int receiveFrom(void* buffer, int n, i4_address** from) override {
        *from = nullptr;
        if (datagrams.empty()) return 0;
        std::string d = datagrams.front();
        datagrams.pop_front();
        int count = static_cast<int>(d.size()) < n ? static_cast<int>(d.size()) : n;
        std::memcpy(buffer, d.data(), static_cast<size_t>(count));
        uint8_t ip[4] = {127, 0, 0, 1};
        *from = new i4_tcpip_address(ip, 4672);
        return count;
    }
    int sendTo(const void*, int n, const i4_address*) override { return n; }
    int waitUntil(int, int, i4_progress*) override { return 0; }
    void addToSet(i4_socket_set*, int) override {}
    void removeFromSet(i4_socket_set*) override {}
    int checkInSet(i4_socket_set*, int flags) override { return flags & 1; }
    bool close() override { return true; }
    void setBlocking(bool) override {}
    i4_tcpip_address* localAddress() override { return nullptr; }
    i4_tcpip_address* peerAddress() override { return nullptr; }
};

class ReadySet : public i4_socket_set {
public:
    int wait(int) override { return 1; }
};

class SetProtocol : public i4_protocol {
public:
    const char* name() const override { return "fuzz"; }
    i4_socket_set* newSocketSet() override { return new ReadySet(); }
    i4_address* resolve(const char*) override { return nullptr; }
    i4_socket* connect(const i4_address*, int, bool) override { return nullptr; }
    bool localHostInfo(HostInfo*) override { return false; }
    i4_socket* listen(int, int, int, const i4_address*) override { return nullptr; }
};

class NoLimits : public BandwidthSettings {
public:
    double uploadLimit() const override { return 0; }
    double downloadLimit() const override { return 0; }
    double currentUpRate() const override { return 0; }
    double currentDownRate() const override { return 0; }
    double maxUpSpeed() const override { return 5; }
    double maxDownSpeed() const override { return 5; }
    void setMaxUpSpeed(double) override {}
    void setMaxDownSpeed(double) override {}
};

// Reads a few typed fields and a counted string, as the overlay's
// handlers do.
class ParsingHandler : public UDPMessageHandler {
public:
    bool handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* view, const i4_address*) override {
        if (opcode & 1) view->read_32();
        uint16_t count = view->read_16();
        for (int i = 0; i < count; i++) view->read_8();
        OwnedString text(100u, view);
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::shared_ptr<i4_protocol> previous = setNetworkProtocol(std::make_shared<SetProtocol>());
    {
        NoLimits limits;
        STSocketPool pool(&limits);
        auto socket = new DatagramSocket();
        size_t offset = 0;
        while (offset + 2 <= size) {
            size_t length = (data[offset] | data[offset + 1] << 8) % 3200;
            offset += 2;
            if (length > size - offset) length = size - offset;
            socket->datagrams.emplace_back(reinterpret_cast<const char*>(data + offset), length);
            offset += length;
        }
        auto annex = new UDPDynamicAnnex(socket, 0xE3);
        ParsingHandler handler;
        for (int opcode = 0; opcode < 256; opcode += 3) annex->setHandler(&handler, static_cast<uint8_t>(opcode));
        pool.add(annex);
        pool.applyPending();
        for (int i = 0; i < 4; i++) pool.tick(10);
    }
    setNetworkProtocol(previous);
    return 0;
}

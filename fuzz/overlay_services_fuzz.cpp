// Drives the overlay's services with arbitrary datagrams and connection
// events: the firewall task (testers asked, a buddy candidate), the buddy
// list (a pending check, an entry), and the listeners waiting at the reply
// server (a publish requester, a search through a given node, a call
// request). The fake peer pool answers connects as the input says and
// delivers the connection events the input names. The clock moves between
// records, so time-outs run too.
// Input: records of u8 kind, then
//   kind % 4 == 0: u8 sender (mod 5), u16 LE length (mod 600), the datagram after its marker
//   kind % 4 == 1: u8 peer (mod 5), u16 LE door port, u8 user id byte: that connection opens
//   kind % 4 == 2: u8 peer (mod 5), u16 LE door port: a connect to it fails; open ones close
//   kind % 4 == 3: u8 clock step in 500 ms, u8 next connect result (mod 5)
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/meta/user_meta.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service_search.h"
#include "overlay/opcodes.h"
#include "overlay/requests/publish_requester.h"
#include "overlay/routing/contact_list.h"
#include "support/overlay_sim.h"
#include "v4ada/file/debug_file.h"

namespace {
constexpr int kPeers = 5;

UniqueID idOf(uint8_t first) {
    UniqueID id;
    id.bytes()[0] = first;
    return id;
}

class NullCallback : public ResultCallback {
public:
    void gotResult(Service*) override {}
    void searchEnd(ServiceSearch*, Node*, int, int) override {}
};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    support::OverlaySim sim;
    UniqueID own = idOf(0x80);
    support::SimHost& host = sim.addHost(own, "10.0.0.1", 4000, "/nonexistent/fuzz");
    support::DatagramPeer* peers[kPeers];
    for (int i = 0; i < kPeers; i++)
        peers[i] = sim.network.addPeer(support::ip("10.9.0.1") + (static_cast<uint32_t>(i) << 24), 4672);
    NullCallback callback;
    std::vector<TCPConnection*> open;
    {
        FlockGateway gateway(host);
        gateway.start();
        for (int i = 0; i < kPeers; i++) {
            Node contact;
            contact.id = idOf(static_cast<uint8_t>(0x81 + i));
            contact.ip = peers[i]->ip();
            contact.port = 4672;
            gateway.contacts()->add(&contact);
        }
        // Testers asked, and every listener waiting.
        gateway.retestFirewall();
        sim.advance(100);
        Service published;
        published.serviceId = idOf(0x83);
        (new PublishRequester(gateway, published, 4))->start();
        Node given;
        given.id = idOf(0x82);
        given.ip = peers[1]->ip();
        given.port = 4672;
        gateway.searchNode(new Node(given), new ServiceSearch(idOf(0x82)), &callback);
        UserMeta callee;
        callee.setUserHash(idOf(0x99));
        callee.setBuddyIp(peers[2]->ip());
        callee.setBuddyPort(4672);
        gateway.askCallback(&callee);
        peers[3]->sendTo(host.ip(), 4000, std::string("\xE3\x1B\x36\x12", 4));
        std::string request("\xE3\x15", 2);
        request.append(23, '\0');
        request[2] = static_cast<char>(0x85);
        peers[4]->sendTo(host.ip(), 4000, request);
        sim.settle();

        size_t at = 0;
        while (at + 2 <= size) {
            int kind = data[at] % 4;
            at++;
            if (kind == 0 && at + 3 <= size) {
                int sender = data[at] % kPeers;
                size_t length = (data[at + 1] | data[at + 2] << 8) % 600;
                at += 3;
                if (length > size - at) length = size - at;
                std::string bytes(1, static_cast<char>(kFlockMarker));
                bytes.append(reinterpret_cast<const char*>(data + at), length);
                at += length;
                peers[sender]->sendTo(host.ip(), gateway.self().udpPort(), bytes);
                sim.settle();
            } else if (kind == 1 && at + 4 <= size) {
                PeerFacts facts;
                facts.socketIp = peers[data[at] % kPeers]->ip();
                facts.port = static_cast<uint16_t>(data[at + 1] | data[at + 2] << 8);
                facts.helloIp = facts.socketIp;
                facts.userHash = idOf(data[at + 3]);
                at += 4;
                TCPConnection* connection = host.link.makeConnection(facts, "fuzz");
                open.push_back(connection);
                host.link.open(connection);
                sim.settle();
            } else if (kind == 2 && at + 3 <= size) {
                uint32_t ip = peers[data[at] % kPeers]->ip();
                uint16_t port = static_cast<uint16_t>(data[at + 1] | data[at + 2] << 8);
                at += 3;
                host.link.fail(ip, port);
                for (TCPConnection* connection : open)
                    if (host.link.facts(connection).socketIp == ip) host.link.close(connection);
                sim.settle();
            } else if (kind == 3 && at + 2 <= size) {
                int steps = data[at];
                host.link.connectResult = data[at + 1] % 5;
                at += 2;
                if (steps > 0) sim.advance(steps * 500, steps * 500);
            } else {
                break;
            }
        }
        sim.advance(130000, 65000);
        gateway.stop();
        // Connections that close after the stop are still heard.
        for (TCPConnection* connection : open) host.link.close(connection);
    }
    return 0;
}

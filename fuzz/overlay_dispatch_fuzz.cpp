// Hands arbitrary datagrams from a few peers to a running overlay gateway
// on the in-memory network: the endpoint's dispatch into the request
// handler, the booter and the reply server with its listeners (a lookup
// and its hello requester waiting for route answers, the contact
// refresher rechecking a node). The clock moves between datagrams, so
// time-outs and expiries run too.
// Input: records of u8 sender (mod 5; 4 is a stranger), u8 clock step in
// 100 ms, u16 LE length (mod 3100), then the datagram after its marker.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/meta/special_tags.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/opcodes.h"
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
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    support::OverlaySim sim;
    // Own id 80 01 00..: the hello lookup's target.
    UniqueID own = idOf(0x80);
    own.bytes()[1] = 0x01;
    support::SimHost& host = sim.addHost(own, "10.0.0.1", 4000, "/nonexistent/fuzz");
    support::DatagramPeer* peers[kPeers];
    for (int i = 0; i < kPeers; i++) peers[i] = sim.network.addPeer(support::ip("10.9.0.1") + (static_cast<uint32_t>(i) << 24), 4672);
    {
        FlockGateway gateway(host);
        gateway.start();
        for (int i = 0; i < kPeers - 1; i++) {
            Node contact;
            contact.id = idOf(static_cast<uint8_t>(0x81 + i));
            contact.ip = peers[i]->ip();
            contact.port = 4672;
            gateway.contacts()->add(&contact);
        }
        gateway.bootFrom("10.9.0.1", 4672);
        gateway.helloLookup();
        Node dropped;
        dropped.id = idOf(0x84);
        dropped.ip = peers[3]->ip();
        dropped.port = 4672;
        for (int i = 0; i < 5; i++) gateway.refresher().nodeFailed(&dropped);
        sim.settle();

        size_t at = 0;
        while (at + 4 <= size) {
            int sender = data[at] % kPeers;
            int steps = data[at + 1];
            size_t length = (data[at + 2] | data[at + 3] << 8) % 3100;
            at += 4;
            if (length > size - at) length = size - at;
            std::string bytes(1, static_cast<char>(kFlockMarker));
            bytes.append(reinterpret_cast<const char*>(data + at), length);
            at += length;
            peers[sender]->sendTo(host.ip(), gateway.self().udpPort(), bytes);
            sim.settle();
            if (steps > 0) sim.advance(steps * 100, 1000);
        }
        sim.advance(70000, 10000);
    }
    return 0;
}

// Twenty-five tandrel processes on 127.0.0.1 form an overlay: a seed and
// three nodes first, the others once the seed is open (most from a
// contact.dat of earlier nodes, a few booting by argument). Every node
// with a reachable door comes to "(open)" and publishes its open location
// link; the node whose door nobody can reach comes to "(firewalled)", keeps
// a buddy and names it in its link; a call request to that buddy reaches
// the firewalled node, which calls back; a test publish on one node is
// found from another; a node that quits and starts again comes back open.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "console/tandrel_swarm_fixture.h"
#include "core/net/check_trailer.h"
#include "support/files.h"
#include "support/loopback.h"
#include "v4ada/memory/malloc4.h"

namespace {

constexpr int kNodes = 25;
constexpr int kFirstWave = 4;
// Nodes of the second wave that boot by argument instead of contact.dat.
constexpr int kBootByArgument[] = {10, 15, 20};
constexpr int kOpenMs = 120000;

std::string hexOf(const UniqueID& id) {
    char* hex = id.toHex();
    std::string text(hex);
    i4_free(hex);
    return text;
}

bool bootsByArgument(int i) {
    for (int n : kBootByArgument)
        if (n == i) return true;
    return false;
}

TEST(TandrelSwarmTest, TwentyFiveNodesFormAnOverlay) {
    TandrelSwarm swarm;
    const int firewalled = kNodes - 1;
    for (int i = 0; i < kNodes; i++) swarm.add(i == firewalled);
    for (int i = 1; i < kFirstWave; i++) swarm.writeContacts(i, {0});
    for (int i = kFirstWave; i < kNodes; i++)
        if (!bootsByArgument(i)) swarm.writeContacts(i, {0, 1, 2, 3});

    for (int i = 0; i < kFirstWave; i++) ASSERT_TRUE(swarm.start(i)) << swarm.tails();
    ASSERT_TRUE(swarm.poll(0, "g", "(open)", kOpenMs)) << swarm.tails();
    for (int i = kFirstWave; i < kNodes; i++) {
        std::vector<std::string> args;
        if (bootsByArgument(i)) args.push_back("boot 127.0.0.1 " + std::to_string(swarm.node(0).udpPort));
        ASSERT_TRUE(swarm.start(i, args)) << swarm.tails();
    }

    for (int i = 0; i < kNodes; i++) {
        if (i == firewalled) continue;
        ASSERT_TRUE(swarm.poll(i, "g", "(open)", kOpenMs)) << swarm.node(i).name << "\n" << swarm.tails();
        std::string location;
        EXPECT_TRUE(swarm.ask(i, "getloc", "bcp://127.0.0.1:" + std::to_string(swarm.node(i).doorPort) + "\n"))
            << swarm.node(i).name << "\n" << swarm.tails();
    }

    // The firewalled node and its buddy.
    ASSERT_TRUE(swarm.poll(firewalled, "g", "(firewalled)", kOpenMs)) << swarm.tails();
    std::string link;
    std::string prefix = "bcp://" + hexOf(swarm.node(firewalled).id) + ":127.0.0.1:";
    ASSERT_TRUE(swarm.poll(firewalled, "getloc", prefix, kOpenMs)) << swarm.tails();
    ASSERT_TRUE(swarm.ask(firewalled, "getloc", prefix, &link)) << swarm.tails();
    std::smatch port;
    ASSERT_TRUE(std::regex_search(link, port, std::regex(":127\\.0\\.0\\.1:([0-9]+)\n"))) << link;
    int buddyUdp = std::stoi(port[1]);
    int buddy = -1;
    for (int i = 0; i < kNodes; i++)
        if (swarm.node(i).udpPort == buddyUdp) buddy = i;
    ASSERT_GE(buddy, 0) << link;
    EXPECT_TRUE(swarm.ask(buddy, "vbud", ") " + swarm.node(firewalled).name + "\n")) << swarm.tails();

    // A probe asks the buddy to have the firewalled node call it back.
    int probeTcp = 0;
    int listener = support::raw_listen(&probeTcp);
    int probeUdp = 0;
    int probe = support::raw_udp(&probeUdp);
    ASSERT_GE(listener, 0);
    ASSERT_GE(probe, 0);
    std::string user(reinterpret_cast<const char*>(swarm.node(firewalled).id.bytes()), 16);
    std::string request = std::string("\xE3\x18", 2) + user + static_cast<char>(probeTcp & 0xFF) +
                          static_cast<char>(probeTcp >> 8);
    support::raw_send_to(probe, buddyUdp, request);
    std::string relayed = support::raw_read(probe, TandrelSwarm::kAskMs);
    EXPECT_EQ(relayed, std::string("\xE3\x19", 2) + user) << swarm.tails();
    int callee = -1;
    for (int waited = 0; waited < TandrelSwarm::kAskMs && callee < 0; waited += 100) {
        swarm.pump();
        pollfd pending{listener, POLLIN, 0};
        if (poll(&pending, 1, 100) > 0) callee = accept(listener, nullptr, nullptr);
    }
    ASSERT_GE(callee, 0) << "the firewalled node called back\n" << swarm.tails();
    std::string hello;
    for (int tries = 0; tries < 200 && hello.size() < 23; tries++) hello += support::raw_read(callee, 100);
    ASSERT_GE(hello.size(), 23u);
    EXPECT_EQ(static_cast<uint8_t>(hello[0]), 0xE3);
    EXPECT_EQ(hello[5], 1) << "ICLT_HELLO";
    EXPECT_EQ(hello.substr(7, 16), user);
    close(callee);
    close(listener);
    close(probe);

    // A test publish found from another node.
    ASSERT_TRUE(swarm.ask(5, "master", "Master mode on.")) << swarm.tails();
    swarm.ask(5, "testp harbor x", "> ");
    EXPECT_TRUE(swarm.poll(9, "s harbor", "Got results. (1,1)", 60000)) << swarm.tails();

    // A node quits and comes back.
    ASSERT_TRUE(swarm.quit(7)) << swarm.tails();
    std::string contacts = support::read_file(swarm.node(7).dir + "/contact.dat");
    ASSERT_GT(contacts.size(), 4u);
    EXPECT_EQ((contacts.size() - 4) % 23, 0u);
    ASSERT_TRUE(swarm.start(7)) << swarm.tails();
    EXPECT_TRUE(swarm.poll(7, "g", "(open)", kOpenMs)) << swarm.tails();

    for (int i = 0; i < kNodes; i++) EXPECT_TRUE(swarm.quit(i)) << swarm.node(i).name << "\n" << swarm.tails();
}

}  // namespace

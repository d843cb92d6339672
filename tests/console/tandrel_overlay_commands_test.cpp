// The overlay commands of the tandrel program, typed through a pipe: their
// texts, the UDP port kept across a restart, and boot and check reaching
// a scripted UDP probe.
#include <unistd.h>

#include <regex>

#include "console/tandrel_process_fixture.h"
#include "core/net/check_trailer.h"
#include "support/loopback.h"

namespace {

constexpr int kWaitMs = 20000;

class TandrelOverlayTest : public TandrelTest {
protected:
    std::string port() const { return std::to_string(doorLease_.port()); }
};

TEST_F(TandrelOverlayTest, CommandTexts) {
    EXPECT_EQ(runWith({}, "s ab\nboot 1.2.3.4\nboot 1.2.3.4 0\nboot 1.2.3.4 70000\nretest\nuport\nuport 0\n"
                          "uport -5\nuport x\nuport 65536\nvbud\ng\ngetloc\nvc\nvr\nvr 1\ndir\nmaster\ndir\ndelay\n"
                          "check 1.2.3.4\ncheck 1.2.3.4 0\ng\n"),
              0);
    const std::string& out = process_.out();
    EXPECT_TRUE(in_order(out, {"Search string must be longer than 2 characters.\n", "Invalid arguments\n",
                               "Invalid arguments\n", "Invalid arguments\n", "Retesting the firewall...\n",
                               "> " + port() + "\n", "> " + port() + "\n", "> " + port() + "\n",
                               "> " + port() + "\n", "> " + port() + "\n", "Buddies:\n", "(unclear)\nID: ",
                               "0.0.0.0:" + port() + "  (0.0.0.0:0)\n\n", "Users: 0   Files: 0\n",
                               "bcp://0.0.0.0:" + port() + "\n", "Contact List:\n0 (0) contacts\n", "None.\n",
                               "None.\n", "Unrecognized command", "Master mode on.\n", "Indexing: 0\n",
                               "Invalid arguments\n", "Invalid arguments\n", "Invalid arguments\n",
                               "(unclear)\nID: ", "Bucket Depth: 0, Nodes in Bucket: 0\n"}));
    EXPECT_TRUE(std::regex_search(out, std::regex("ID: [0-9a-f]{32}\n"))) << out;
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
}

TEST_F(TandrelOverlayTest, UdpPortChangeIsKept) {
    support::PortLease other;
    ASSERT_NE(other.port(), 0);
    std::string moved = std::to_string(other.port());
    EXPECT_EQ(runWith({}, "uport " + moved + "\nuport\n"), 0);
    EXPECT_TRUE(in_order(process_.out(), {"UDP port changed to " + moved + "\n", "> " + moved + "\n"}));
    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, TandrelProcess::Mode::kPipes));
    second.write("uport\n");
    second.closeInput();
    ASSERT_TRUE(second.waitExit(kWaitMs));
    EXPECT_TRUE(in_order(second.out(), {"> " + moved + "\n"}));
}

TEST_F(TandrelOverlayTest, BootAndCheckReachTheProbe) {
    int probePort = 0;
    int probe = support::raw_udp(&probePort);
    ASSERT_GE(probe, 0);
    std::string target = "127.0.0.1 " + std::to_string(probePort);
    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    process_.write("boot " + target + "\n");
    std::string connect = support::raw_read(probe, kWaitMs);
    ASSERT_EQ(connect.size(), 25u) << "INODE_CONNECT with the own node record";
    EXPECT_EQ(connect.substr(0, 2), std::string("\xE3\x0A", 2));
    process_.write("master\ncheck " + target + "\n");
    std::string check = support::raw_read(probe, kWaitMs);
    ASSERT_EQ(check.size(), 49u);
    EXPECT_EQ(check.substr(0, 6), std::string("\xE3\x1F\x02\x00\x00\x00", 6));
    EXPECT_EQ(check.substr(6, 23), connect.substr(2, 23)) << "the same own node record";
    EXPECT_TRUE(messageCheckTrailer(reinterpret_cast<uint8_t*>(check.data()), check.size(), 15));
    process_.write("q\ny\n");
    process_.closeInput();
    EXPECT_TRUE(process_.waitExit(kWaitMs));
    close(probe);
}

}  // namespace

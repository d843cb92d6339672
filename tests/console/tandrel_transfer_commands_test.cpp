// The transfer, sharing and connection words of the tandrel program, typed
// through a pipe into fresh directories: the settings words with their
// exact texts, the door port, the shared directories and files, and the
// master words that end the process, change the own identity, close the
// door and reach a connected peer.
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "console/tandrel_process_fixture.h"
#include "core/meta/special_tags.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/peer/iclt_opcodes.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/md4.h"

namespace {

constexpr int kWaitMs = 20000;

// The output of each typed line: the text between its prompt and the next.
std::vector<std::string> answers(const std::string& out) {
    std::vector<std::string> parts;
    size_t at = out.find("> ");
    while (at != std::string::npos) {
        size_t next = out.find("> ", at + 2);
        parts.push_back(out.substr(at + 2, next == std::string::npos ? std::string::npos : next - at - 2));
        at = next;
    }
    return parts;
}

double freeMiB(const std::string& path) {
    struct statvfs status {};
    if (statvfs(path.c_str(), &status) != 0) return -1;
    return static_cast<double>(status.f_bavail) * static_cast<double>(status.f_frsize) / 1048576.0;
}

class TandrelTransferCommands : public TandrelTest {
protected:
    // Types the line and waits for the text after what was there.
    bool type(const std::string& line, const std::string& text) {
        size_t from = process_.out().size();
        process_.write(line + "\n");
        return process_.waitFor(text, kWaitMs, from);
    }
    void quit() {
        process_.write("q\ny\n");
        process_.closeInput();
        EXPECT_TRUE(process_.waitExit(kWaitMs)) << process_.out();
    }
};

TEST_F(TandrelTransferCommands, SettingsWordsAndTheirTexts) {
    ASSERT_TRUE(support::write_file(path("plain.txt"), "x"));
    const std::string hash = "0123456789abcdef0123456789abcdef";
    struct Step {
        std::string line;
        std::string answer;
    } steps[] = {
        {"pral 3", "current : 0\nusage   : status must be 0, 1, or 2\n"},
        {"pral 2", "Private Message Status changed to 2\n"},
        {"pral x", "Private Message Status changed to 0\n"},
        {"fral 1", "Friend File View Status changed to 1\n"},
        {"fral 5", "current : 1\nusage   : status must be 0, 1, or 2\n"},
        {"save -", "do not save corrupted\n"},
        {"save", "save corrupted\n"},
        {"sup", "Not implemented.\n"},
        {"u 0", "Invalid Directory number.\n"},
        {"m 0 c", "Invalid Download number\n"},
        {"m 1 x", ""},
        {"a", "Invalid arguments."},
        {"a " + path("plain.txt"), "directory not valid: " + path("plain.txt") + "\n"},
        {"import", "current : " + path("temp") + "\nusage   : enter a directory path\n"},
        {"temp", path("temp") + "\n"},
        {"temp " + path("temp"), ""},
        {"in " + path("plain.txt/sub"), "directory not valid: " + path("plain.txt/sub") + "\n"},
        {"in", path("incoming") + "\n"},
        {"port 70000",
         "port #\n\tSets the TCP port that you listen for other clients on. Takes effect upon restart.\n"},
        {"port 0", std::to_string(doorLease_.port()) + "\n"},
        {"port", std::to_string(doorLease_.port()) + "\n"},
        {"dllink vxt4://|file|one.bin|1000|" + hash + "|", ""},
        {"temp " + path("other"), "Can't change temporary directory with pending downloads.\n"},
        {"temp", path("temp") + "\n"},
    };
    std::string input;
    for (const Step& step : steps) input += step.line + "\n";
    input += "space\n";
    double before = std::min(freeMiB(path(".")), freeMiB("/"));
    EXPECT_EQ(runWith({}, input), 0);
    // The pool's own line for the new download comes when it comes.
    std::string out = process_.out();
    const std::string started = "Downloading: one.bin\n";
    ASSERT_NE(out.find(started), std::string::npos) << out;
    out.erase(out.find(started), started.size());
    std::vector<std::string> got = answers(out);
    ASSERT_GE(got.size(), std::size(steps) + 1) << out;
    for (size_t i = 0; i < std::size(steps); i++) EXPECT_EQ(got[i], steps[i].answer) << steps[i].line;
    EXPECT_FALSE(support::file_exists(path("other")));

    // space: both directories lie on the scratch file system.
    std::smatch match;
    const std::string& space = got[std::size(steps)];
    ASSERT_TRUE(std::regex_match(space, match,
                                 std::regex("Space free on temp partion:     ([0-9.]+)MB\n"
                                            "Space free on incoming partion: ([0-9.]+)MB\n")))
        << space;
    double low = std::min(before, freeMiB(path("temp"))) - 256;
    double high = std::max(freeMiB(path("temp")), freeMiB(path("incoming"))) + 256;
    for (int i = 1; i <= 2; i++) {
        double shown = std::stod(match[i].str());
        EXPECT_GE(shown, low) << space;
        EXPECT_LE(shown, high) << space;
    }
}

TEST_F(TandrelTransferCommands, SettingsLastAcrossARestart) {
    EXPECT_EQ(runWith({}, "pral 1\nfral 2\nsave -\n"), 0);
    EXPECT_EQ(runWith({}, "vo\n"), 0);
    const std::string& out = process_.out();
    EXPECT_NE(out.find("SaveCorrupted:\t\t0\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Allow Private Messages:\t\t1\nAllow Viewing of Files:\t\t2\n"), std::string::npos) << out;
}

TEST_F(TandrelTransferCommands, OptionsListingOnAFreshStart) {
    EXPECT_EQ(runWith({}, "vo\n"), 0);
    std::vector<std::string> got = answers(process_.out());
    ASSERT_GE(got.size(), 1u);
    const std::string port = std::to_string(doorLease_.port());
    EXPECT_TRUE(std::regex_match(got[0], std::regex("Name:\t\t\t[a-y]{5}\n"
                                                    "Max Download Speed:\t0.00\n"
                                                    "Max Upload Speed:\t0.00\n"
                                                    "Line Speed Down:\t0.00\n"
                                                    "TCP Port:\t\t" + port + "\n"
                                                    "UDP Port:\t\t" + port + "\n"
                                                    "Admin Port:\t\t4663\n"
                                                    "Admin Name:\t\t\n"
                                                    "Admin Pass:\t\t\n"
                                                    "Verbose:\t\t0\n"
                                                    "SaveCorrupted:\t\t1\n"
                                                    "MaxConnections:\t\t45\n"
                                                    "ScreenLines:\t\t24\n"
                                                    "Allow Private Messages:\t\t0\n"
                                                    "Allow Viewing of Files:\t\t0\n")))
        << got[0];
}

TEST_F(TandrelTransferCommands, DoorMovesToTheNewPort) {
    support::PortLease next;
    ASSERT_NE(next.port(), 0);
    const int old = doorLease_.port();
    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("port", std::to_string(old) + "\n"));
    ASSERT_TRUE(support::accepts_connections(old));
    ASSERT_TRUE(type("port " + std::to_string(next.port()), "TCP port changed to " + std::to_string(next.port())));
    // The old door leaves the socket pool at the end of that step.
    ASSERT_TRUE(type("echo moved", "moved"));
    int fd = support::raw_connect(next.port());
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    fd = support::raw_connect(old);
    EXPECT_LT(fd, 0) << "the old door still listens";
    if (fd >= 0) close(fd);
    quit();
}

TEST_F(TandrelTransferCommands, SharedTreeListsAndFiles) {
    const std::string top = path("tree");
    ASSERT_TRUE(support::write_file(top + "/a.txt", "top file"));
    ASSERT_TRUE(support::write_file(top + "/.hidden/secret.txt", "hidden"));
    ASSERT_TRUE(support::write_file(top + "/music/x/song.mp3", std::string(3000, 's')));
    ASSERT_TRUE(support::write_file(top + "/zeta/z.txt", "zeta"));
    // A link back to an ancestor, and one to a directory listed already.
    ASSERT_EQ(symlink("..", (top + "/music/x/up").c_str()), 0);
    ASSERT_EQ(symlink(top.c_str(), (top + "/zeta/again").c_str()), 0);

    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("a+ " + top, "> "));
    const std::string incoming = path("incoming");
    const std::string listed = "(1) " + incoming + "\n(2) " + top + "\n(3) " + top + "/music\n(4) " + top +
                               "/music/x\n(5) " + top + "/zeta\n";
    ASSERT_TRUE(type("vs", listed)) << process_.out();
    // share.dat holds the same at once.
    std::string expected;
    for (const std::string& dir : {incoming, top, top + "/music", top + "/music/x", top + "/zeta"})
        expected += support::as_text(support::counted_text(dir));
    EXPECT_EQ(readFile("share.dat"), expected);

    // A number past the list removes nothing; 4 removes music/x.
    ASSERT_TRUE(type("u 9", "> "));
    ASSERT_TRUE(type("vs", listed));
    ASSERT_TRUE(type("u 4", "> "));
    ASSERT_TRUE(type("vs", "(4) " + top + "/zeta\n"));
    ASSERT_TRUE(type("refresh", "> "));
    ASSERT_TRUE(process_.waitForRaw("Done loading shared files.", kWaitMs));
    // The hashing thread's last run may still end after the line above:
    // the listing is asked until it holds both files.
    bool listedFiles = false;
    for (int tries = 0; tries < 100 && !listedFiles; tries++) {
        size_t from = process_.out().size();
        process_.write("vf\n");
        listedFiles = process_.waitFor("z.txt", 200, from) &&
                      process_.out().find("a.txt", from) != std::string::npos;
    }
    ASSERT_TRUE(listedFiles) << process_.out();
    EXPECT_EQ(process_.out().find("secret.txt"), std::string::npos);
    EXPECT_EQ(process_.out().find("song.mp3"), std::string::npos);
    ASSERT_TRUE(type("vf 1", "Meta Information:\n"));
    ASSERT_TRUE(type("vf 99", "None.\n"));
    quit();
}

TEST_F(TandrelTransferCommands, DeepAndWideTreesAreSharedOnceEachDepthFirst) {
    // A chain of 300 and a fan of 2,000 directories beside it.
    const std::string top = path("big");
    const int depth = 300, width = 2000;
    std::vector<std::string> chain{top + "/deep"};
    for (int i = 1; i < depth; i++) chain.push_back(chain.back() + "/d");
    ASSERT_TRUE(support::write_file(chain.back() + "/f.txt", "end"));
    std::vector<std::string> expected{top};
    expected.insert(expected.end(), chain.begin(), chain.end());
    expected.push_back(top + "/wide");
    ASSERT_EQ(mkdir(expected.back().c_str(), 0700), 0);
    for (int i = 0; i < width; i++) {
        expected.push_back(top + "/wide/" + std::to_string(i));
        ASSERT_EQ(mkdir(expected.back().c_str(), 0700), 0);
    }

    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("a+ " + top, "> "));
    ASSERT_TRUE(type("echo added", "added"));
    // share.dat: the incoming directory, then every directory once.
    const std::string bytes = readFile("share.dat");
    std::vector<std::string> shared;
    for (size_t at = 0; at + 2 <= bytes.size();) {
        size_t length = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
        shared.push_back(bytes.substr(at + 2, length));
        at += 2 + length;
    }
    ASSERT_EQ(shared.size(), expected.size() + 1);
    EXPECT_EQ(shared[0], path("incoming"));
    EXPECT_EQ(shared[1], top);
    // Depth first: the chain in one run, parent before child.
    auto deep = std::find(shared.begin(), shared.end(), chain[0]);
    ASSERT_GE(shared.end() - deep, depth);
    EXPECT_TRUE(std::equal(chain.begin(), chain.end(), deep));
    std::sort(shared.begin() + 1, shared.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), shared.begin() + 1));
    quit();
}

TEST_F(TandrelTransferCommands, ExitEndsAtOnceWithoutSaving) {
    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("echo ready", "ready"));
    const std::string prefs = readFile("pref.met");
    process_.write("exit\nmaster\nexit\n");
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 1);
    EXPECT_NE(process_.out().find("Unrecognized command"), std::string::npos) << "exit outside master mode";
    EXPECT_EQ(readFile("pref.met"), prefs);
}

TEST_F(TandrelTransferCommands, SetIdChangesTheIdentityKeptInPrefMet) {
    UniqueID abc;
    md4String(abc.bytes(), "abc");
    EXPECT_EQ(runWith({}, "setID abc\nmaster\nsetID abc\n"), 0);
    EXPECT_NE(process_.out().find("Unrecognized command"), std::string::npos);
    EXPECT_EQ(runWith({}, "g\n"), 0);
    EXPECT_NE(process_.out().find("ID: " + support::hex_text(abc) + "\n"), std::string::npos) << process_.out();

    abc.bytes()[kUniqueIdSize - 1] ^= 1;
    EXPECT_EQ(runWith({}, "master\nsetID+ abc\nsetID\n"), 0);
    EXPECT_EQ(runWith({}, "g\n"), 0);
    EXPECT_NE(process_.out().find("ID: " + support::hex_text(abc) + "\n"), std::string::npos) << process_.out();
}

TEST_F(TandrelTransferCommands, KillportClosesTheDoor) {
    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("master", "Master mode on."));
    ASSERT_TRUE(support::accepts_connections(doorLease_.port()));
    ASSERT_TRUE(type("killport", "> "));
    ASSERT_TRUE(type("echo closed", "closed"));
    int fd = support::raw_connect(doorLease_.port());
    EXPECT_LT(fd, 0);
    if (fd >= 0) close(fd);
    for (const char* line : {"fake 1.2.3.4 70000", "fcon 1.2.3.4 70000", "fcon 1.2.3.4", "fake"})
        EXPECT_TRUE(type(line, "Invalid arguments\n")) << line;
    quit();
}

TEST_F(TandrelTransferCommands, PingAndKickAConnectedPeer) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(type("echo ready", "ready"));
    support::FrameClient peer(support::raw_connect(doorLease_.port()));
    UserMeta user = support::makeUser("pinged", 0, 40000, 9);
    peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    ASSERT_TRUE(peer.awaitFrames(1, kWaitMs));
    ASSERT_TRUE(type("vp", "(1) pinged\n"));
    ASSERT_TRUE(type("ping 1", "Unrecognized command"));
    ASSERT_TRUE(type("master", "Master mode on."));
    ASSERT_TRUE(type("ping 2", "Invalid peer\n"));
    ASSERT_TRUE(type("ping 1", "Ping pinged ...\n"));
    ASSERT_TRUE(peer.awaitFrames(2, kWaitMs));
    EXPECT_EQ(peer.frames[1].opcode, ICLT_PING);
    ASSERT_TRUE(type("vp", "Total: "));
    ASSERT_TRUE(type("kick 1", "Kicking: pinged ...\n"));
    EXPECT_FALSE(peer.awaitFrames(3, kWaitMs));
    EXPECT_TRUE(peer.closed);
    quit();
}

}  // namespace

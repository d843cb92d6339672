// Friends and private messages between real tandrel processes on
// 127.0.0.1: one instance makes another its friend and asks for its
// files, the friend list survives a restart, and a scripted peer's
// private messages meet the "pmAllow" filter.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "console/tandrel_process_fixture.h"
#include "overlay/gateway/flock_self.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/strings/priority_names.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/iclt_opcodes.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr int kPollMs = 200;
constexpr int kPolls = kWaitMs / kPollMs;

// The record names the scripted user's tags need.
struct SpecialTags {
    SpecialTags() { initSpecialTags(); }
    ~SpecialTags() { resetSpecialTags(); }
};

// Sets integer options in the pref.met of dir.
void setOptions(const std::string& dir, const std::map<const char*, int>& values) {
    SpecialTags tags;
    {
        CoreOptions options;
        options.loadFrom(dir.c_str());
        for (const auto& [key, value] : values) options.setIntOption(key, value);
        EXPECT_TRUE(options.save());
    }
    freePriorityNames();
}

class TandrelFriendsTest : public TandrelTest {
protected:
    void SetUp() override {
        TandrelTest::SetUp();
        ASSERT_TRUE(otherScratch_.ok());
        otherDir_ = otherScratch_.path();
        ASSERT_NE(otherLease_.port(), 0);
        setOptions(otherDir_, {{kOptDoorPort, otherLease_.port()}, {kOptAnnexPort, otherLease_.port()}});
    }
    // Types the line into the process and waits for the text (after from).
    bool type(TandrelProcess& process, const std::string& line, const std::string& text, size_t from) {
        process.write(line + "\n");
        return process.waitFor(text, kWaitMs, from);
    }
    // Types the line until the text shows (after from).
    bool poll(TandrelProcess& process, const std::string& line, const std::string& text, size_t from) {
        for (int tries = 0; tries < kPolls; tries++) {
            process.write(line + "\n");
            if (process.waitFor(text, kPollMs, from)) return true;
        }
        return false;
    }
    void quit(TandrelProcess& process) {
        process.write("q\ny\n");
        process.closeInput();
        EXPECT_TRUE(process.waitExit(kWaitMs)) << process.out();
        EXPECT_EQ(process.status(), 0) << process.out();
    }

    support::TempDir otherScratch_;
    std::string otherDir_;
    support::PortLease otherLease_;
    TandrelProcess other_;
};

TEST_F(TandrelFriendsTest, FriendBrowsesFilesAndIsKeptInFriendMet) {
    const int portA = doorLease_.port();
    const std::string address = "127.0.0.1\t" + std::to_string(portA);
    // A shares one directory with one file.
    const std::string shared = dir_ + "/shared";
    ASSERT_TRUE(support::write_file(shared + "/hello.txt", std::string("hello, friend\n")));
    ASSERT_TRUE(support::write_file(
        dir_ + "/share.dat",
        support::cat({support::le16(static_cast<uint16_t>(shared.size())), support::text(shared)})));
    ASSERT_TRUE(process_.start(dir_, {"name alice", "echo A ready"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(process_.waitFor("A ready", kWaitMs)) << process_.out();

    // B makes A its friend by address and asks for its directories.
    ASSERT_TRUE(other_.start(otherDir_, {"echo B ready"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(other_.waitFor("B ready", kWaitMs)) << other_.out();
    ASSERT_TRUE(type(other_, "master", "Master mode on.", 0));
    ASSERT_TRUE(type(other_, "ffriend 127.0.0.1 " + std::to_string(portA), "forced friend.", 0));
    ASSERT_TRUE(type(other_, "gfr", "(1)\t" + address + "\t [not connected]", 0)) << other_.out();
    size_t asked = other_.out().size();
    ASSERT_TRUE(type(other_, "gfr 1", "fetching requested dirs...", asked)) << other_.out();
    EXPECT_NE(other_.out().find("Waiting for connection.", asked), std::string::npos);
    // Lines that arrive between commands reach a pipe with the next one;
    // until A has hashed its directory, its list is empty and is asked
    // for again.
    ASSERT_TRUE(poll(other_, "gfr 1", "1 directories:\n1) " + shared + "\n", asked)) << other_.out();
    EXPECT_NE(other_.out().find("Asking alice for file list.", asked), std::string::npos) << other_.out();
    asked = other_.out().size();
    ASSERT_TRUE(type(other_, "gfr 1 1", "fetching requested files...", asked)) << other_.out();
    ASSERT_TRUE(poll(other_, "gfr 1 1", "1 files:", asked)) << other_.out();
    ASSERT_TRUE(other_.waitFor("hello.txt", kWaitMs, asked)) << other_.out();
    ASSERT_TRUE(type(other_, "gfr", "(1)\talice\t [connected]", asked)) << other_.out();

    // B fetches the listed file from its friend: it lands in B's incoming
    // directory byte for byte.
    ASSERT_TRUE(type(other_, "gfr 1 1 1", "> ", asked)) << other_.out();
    const std::string fetched = otherDir_ + "/incoming/hello.txt";
    for (int tries = 0; tries < 3 * kPolls && support::read_file(fetched) != "hello, friend\n"; tries++)
        other_.waitFor("\x01never\x01", kPollMs);
    EXPECT_EQ(support::read_file(fetched), "hello, friend\n") << other_.out() << support::read_file(otherDir_ + "/log.txt");

    // Restarted with "frAllow" 2, A gives out no file lists.
    quit(process_);
    setOptions(dir_, {{kOptFilesAllowed, 2}});
    TandrelProcess refusing;
    ASSERT_TRUE(refusing.start(dir_, {"echo A again"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(refusing.waitFor("A again", kWaitMs)) << refusing.out();
    asked = other_.out().size();
    ASSERT_TRUE(poll(other_, "gfr 1 r", "Client does not give out files", asked)) << other_.out();
    quit(other_);

    // friend.met holds A: the record-list form with A's address.
    support::Bytes met = support::read_bytes(otherDir_ + "/friend.met");
    support::Bytes head =
        support::cat({{14}, support::le32(1), {127, 0, 0, 1}, support::le16(static_cast<uint16_t>(portA))});
    ASSERT_GE(met.size(), head.size());
    EXPECT_EQ(support::Bytes(met.begin(), met.begin() + static_cast<long>(head.size())), head);

    // A restart lists A as not connected.
    TandrelProcess again;
    ASSERT_TRUE(again.start(otherDir_, {"gfr"}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(again.waitFor("(1)\t" + address + "\t [not connected]", kWaitMs)) << again.out();
    quit(again);
    quit(refusing);
}

// A scripted client says hello and sends private messages; each is
// followed by a ping, so the pong shows that nothing else was answered.
class ScriptedMessages {
public:
    explicit ScriptedMessages(int port) : client_(support::raw_connect(port)) {
        user_ = support::makeUser("scripted", 0, kPort, 77);
        client_.send(ICLT_HELLO, support::helloPayload(user_, 0, 0, true, true));
        ok_ = client_.awaitFrames(1, kWaitMs) && client_.frames[0].opcode == ICLT_HELLO_ANSWER;
    }
    bool ok() const { return ok_; }
    // The opcodes answered to a message and its ping.
    std::string answersTo(const std::string& text) {
        size_t seen = client_.frames.size();
        client_.send(ICLT_MESSAGE, support::le16s(static_cast<uint16_t>(text.size())) + text);
        client_.send(ICLT_PING, "");
        std::string answers;
        for (size_t want = seen + 1; client_.awaitFrames(want, kWaitMs); want++) {
            uint8_t opcode = client_.frames[want - 1].opcode;
            answers += opcode == ICLT_MESSAGE_REFUSED ? "refused " : opcode == ICLT_PONG ? "pong" : "other ";
            if (opcode == ICLT_PONG) break;
        }
        return answers;
    }

    static constexpr uint16_t kPort = 40000;

private:
    support::FrameClient client_;
    UserMeta user_;
    bool ok_ = false;
};

TEST_F(TandrelFriendsTest, PrivateMessagesMeetThePmAllowFilter) {
    struct Case {
        int allow;
        std::string first;
        std::string afterSession;
    } cases[] = {
        {0, "pong", "pong"},
        {1, "refused pong", "pong"},
        {2, "refused pong", "pong"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.allow);
        setOptions(dir_, {{kOptMessagesAllowed, c.allow}});
        SpecialTags tags;
        TandrelProcess instance;
        ASSERT_TRUE(instance.start(dir_, {"echo ready"}, TandrelProcess::Mode::kPipes));
        ASSERT_TRUE(instance.waitFor("ready", kWaitMs)) << instance.out();
        ScriptedMessages peer(doorLease_.port());
        ASSERT_TRUE(peer.ok());
        EXPECT_EQ(peer.answersTo("hello"), c.first);
        // The user opens a session with the scripted client: its messages
        // pass from then on.
        size_t from = instance.out().size();
        ASSERT_TRUE(type(instance, "message 127.0.0.1 " + std::to_string(ScriptedMessages::kPort) + "\necho opened",
                         "opened", from))
            << instance.out();
        EXPECT_EQ(peer.answersTo("again"), c.afterSession);
        quit(instance);
    }
}

}  // namespace

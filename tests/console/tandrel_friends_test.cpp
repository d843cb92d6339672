// Private messages to a real tandrel process on 127.0.0.1: a scripted
// peer's messages meet the "pmAllow" filter. (Two instances as friends are
// tested by tests/swarm/friend_files_test.py.)
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "console/tandrel_process_fixture.h"
#include "overlay/gateway/flock_self.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/strings/priority_names.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/iclt_opcodes.h"

namespace {

constexpr int kWaitMs = 20000;

// Sets integer options in the pref.met of dir.
void setOptions(const std::string& dir, const std::map<const char*, int>& values) {
    // The record names the scripted user's tags need.
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
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
    // Types the line into the process and waits for the text (after from).
    bool type(TandrelProcess& process, const std::string& line, const std::string& text, size_t from) {
        process.write(line + "\n");
        return process.waitFor(text, kWaitMs, from);
    }
    void quit(TandrelProcess& process) {
        process.write("q\ny\n");
        process.closeInput();
        EXPECT_TRUE(process.waitExit(kWaitMs)) << process.out();
        EXPECT_EQ(process.status(), 0) << process.out();
    }
};

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
        support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
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

// TandrelSwarm: many real tandrel processes on 127.0.0.1, for tests of the
// overlay between whole programs. Each node runs in a scratch directory of
// its own with a pre-written pref.met (its own identifier and nickname,
// and leased, free "doorPort" and "annexPort") and, when asked, a
// contact.dat naming earlier nodes; it is fed through a pipe. Every wait is
// bounded; when a wait fails the caller adds tails() to its message, the
// last lines of every node's output.
//
//   TandrelSwarm swarm;
//   int seed = swarm.add();
//   int other = swarm.add();
//   swarm.writeContacts(other, {seed});
//   ASSERT_TRUE(swarm.start(seed)) << swarm.tails();
//   ASSERT_TRUE(swarm.start(other)) << swarm.tails();
//   ASSERT_TRUE(swarm.poll(seed, "g", "(open)", 90000)) << swarm.tails();
//   std::string answer;
//   ASSERT_TRUE(swarm.ask(other, "getloc", "bcp://", &answer)) << swarm.tails();
//   swarm.quit(other);
//
// Nodes are numbered from 0 in the order added. A node whose door is
// blocked gets a TCP port the swarm holds bound without listening, so that
// every connection to its door is refused (a firewalled node).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "console/tandrel_process_fixture.h"
#include "support/daemon.h"
#include "support/temp_dir.h"
#include "v4ada/containers/unique_id.h"

class TandrelSwarm {
public:
    struct Node {
        std::string dir;
        std::string name;  // the nickname, "node<i>"
        UniqueID id;
        int doorPort = 0;
        int udpPort = 0;
        bool blockedDoor = false;
        // The UDP port's lease (also the door's, unless the door is blocked:
        // then the door is a TCP port held bound without listening).
        std::unique_ptr<support::PortLease> lease;
        int blocker = -1;
        std::unique_ptr<TandrelProcess> process;
    };

    TandrelSwarm();
    ~TandrelSwarm();
    TandrelSwarm(const TandrelSwarm&) = delete;
    TandrelSwarm& operator=(const TandrelSwarm&) = delete;

    // A new node (not started): its directory and pref.met. blockedDoor:
    // its door port is held bound, so nobody can connect to it.
    int add(bool blockedDoor = false);
    // contact.dat of the node: the known nodes' records (127.0.0.1 and
    // their UDP ports), 4 + 23n bytes.
    void writeContacts(int node, const std::vector<int>& known);
    // Starts the node with the arguments and waits until it is up: its
    // overlay port bound, its arguments run and its console reading (the
    // welcome line). A node that boots from another must find it up: a
    // boot request sent before the other's port is bound is lost, and a
    // failed boot is not tried again. False when the node cannot be
    // started or is not up within kStartMs.
    bool start(int node, const std::vector<std::string>& args = {});
    // Types the line and waits up to timeoutMs for the text in what the
    // node prints afterwards; *answer receives that output up to and with
    // the line that holds the text.
    bool ask(int node, const std::string& line, const std::string& text, std::string* answer = nullptr,
             int timeoutMs = kAskMs);
    // Types the line every second until the text shows in the output
    // printed after it, or timeoutMs has passed.
    bool poll(int node, const std::string& line, const std::string& text, int timeoutMs);
    // Answers the quit question and waits for the exit; true when it ended
    // with status 0.
    bool quit(int node, int timeoutMs = kAskMs);
    // Reads what every running node printed meanwhile (their pipes never
    // fill up).
    void pump();

    Node& node(int i) { return *nodes_[static_cast<size_t>(i)]; }
    int size() const { return static_cast<int>(nodes_.size()); }
    // The last lines of every node's output (and error output).
    std::string tails(int lines = 15) const;

    static constexpr int kAskMs = 20000;
    // Start-up under sanitizers on a busy machine.
    static constexpr int kStartMs = 60000;

private:
    support::TempDir scratch_;
    std::vector<std::unique_ptr<Node>> nodes_;
};

#include "console/tandrel_swarm_fixture.h"

#include <unistd.h>

#include <chrono>
#include <sstream>

#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "core/options/core_options.h"
#include "core/strings/priority_names.h"
#include "overlay/gateway/flock_self.h"
#include "overlay/routing/node_list.h"
#include "support/files.h"
#include "support/loopback.h"
#include "transfer/options/transfer_options.h"
#include "v4ada/digest/md4.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPollEveryMs = 1000;
constexpr const char* kWelcome = "Enter commands at any time";

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// The last lines of a text.
std::string lastLines(const std::string& text, int lines) {
    size_t at = text.size();
    for (int n = 0; n <= lines && at > 0; n++) {
        size_t found = text.rfind('\n', at - 1);
        if (found == std::string::npos) return text;
        at = found;
        if (n == lines) return text.substr(at + 1);
    }
    return text;
}

}  // namespace

TandrelSwarm::TandrelSwarm() = default;

TandrelSwarm::~TandrelSwarm() {
    for (auto& n : nodes_) {
        n->process.reset();  // killed when still running
        if (n->blocker >= 0) close(n->blocker);
    }
}

int TandrelSwarm::add(bool blockedDoor) {
    int index = size();
    auto n = std::make_unique<Node>();
    n->dir = scratch_.path() + "/node" + std::to_string(index);
    support::write_file(n->dir + "/.keep", "");
    n->name = "node" + std::to_string(index);
    md4String(n->id.bytes(), ("swarm " + n->name).c_str());
    n->blockedDoor = blockedDoor;
    n->lease = std::make_unique<support::PortLease>();
    n->udpPort = n->lease->port();
    if (blockedDoor) {
        n->blocker = support::raw_refusing_tcp(&n->doorPort);
    } else {
        n->doorPort = n->udpPort;  // one lease serves both protocols
    }
    initSpecialTags();
    {
        CoreOptions options;
        options.loadFrom(n->dir.c_str());
        options.ownUserMeta()->setUserHash(n->id);
        options.setNickname(n->name.c_str());
        options.setIntOption(kOptDoorPort, n->doorPort);
        options.setIntOption(kOptAnnexPort, n->udpPort);
        options.save();
    }
    freePriorityNames();
    resetSpecialTags();
    nodes_.push_back(std::move(n));
    return index;
}

void TandrelSwarm::writeContacts(int node, const std::vector<int>& known) {
    NodeList list;
    for (int k : known) {
        ::Node record;
        record.id = nodes_[static_cast<size_t>(k)]->id;
        record.ip = ipFromText("127.0.0.1");
        record.port = nodes_[static_cast<size_t>(k)]->udpPort;
        list.addCopy(&record);
    }
    list.save((nodes_[static_cast<size_t>(node)]->dir + "/contact.dat").c_str(), static_cast<int>(known.size()));
}

bool TandrelSwarm::start(int node, const std::vector<std::string>& args) {
    Node& n = *nodes_[static_cast<size_t>(node)];
    n.process = std::make_unique<TandrelProcess>();
    if (!n.process->start(n.dir, args, TandrelProcess::Mode::kPipes)) return false;
    // Printed on the error output once the overlay is up and the
    // arguments have run.
    return n.process->waitForErr(kWelcome, kStartMs);
}

bool TandrelSwarm::ask(int node, const std::string& line, const std::string& text, std::string* answer,
                       int timeoutMs) {
    Node& n = *nodes_[static_cast<size_t>(node)];
    if (!n.process) return false;
    size_t from = n.process->out().size();
    n.process->write(line + "\n");
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pump();
        const std::string& out = n.process->out();
        size_t found = out.find(text, from);
        if (found != std::string::npos) {
            size_t end = out.find('\n', found);
            end = end == std::string::npos ? out.size() : end + 1;
            if (answer) *answer = out.substr(from, end - from);
            return true;
        }
        if (msLeft(deadline) == 0) return false;
        n.process->waitFor(text, std::min(msLeft(deadline), 50), from);
    }
}

bool TandrelSwarm::poll(int node, const std::string& line, const std::string& text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (msLeft(deadline) > 0)
        if (ask(node, line, text, nullptr, std::min(msLeft(deadline), kPollEveryMs))) return true;
    return false;
}

bool TandrelSwarm::quit(int node, int timeoutMs) {
    Node& n = *nodes_[static_cast<size_t>(node)];
    if (!n.process) return false;
    n.process->write("q\ny\n");
    n.process->closeInput();
    bool ended = n.process->waitExit(timeoutMs);
    return ended && n.process->status() == 0;
}

void TandrelSwarm::pump() {
    for (auto& n : nodes_)
        if (n->process) n->process->drain();
}

std::string TandrelSwarm::tails(int lines) const {
    std::ostringstream all;
    for (size_t i = 0; i < nodes_.size(); i++) {
        const Node& n = *nodes_[i];
        if (!n.process) continue;
        all << "---- " << n.name << " (door " << n.doorPort << ", udp " << n.udpPort << ")\n"
            << lastLines(n.process->out(), lines);
        if (!n.process->err().empty()) all << "  [stderr]\n" << lastLines(n.process->err(), lines);
    }
    return all.str();
}

#include "overlay/firewall/firewall_task.h"

#include "core/net/udp_packet.h"
#include "overlay/routing/contact_list.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/opcodes.h"
#include "overlay/gateway/peer_link.h"
#include "overlay/index/service.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"
#include "core/net/ip_text.h"

int FirewallTask::status() const {
    if (state_ == kWaiting || state_ == kTesting) return NetworkGateway::kUnknown;
    return verdict_ ? NetworkGateway::kFirewalled : NetworkGateway::kOpen;
}

bool FirewallTask::tick(int elapsedMs) {
    if (state_ == kWaiting) {
        timer_ += elapsedMs;
        if (timer_ <= kFirewallStartMs) return false;
        state_ = kTesting;
        timer_ = 0;
    } else {
        for (Tester& tester : testers_) tickTester(tester, elapsedMs);
        if (state_ == kSeekingBuddy || state_ == kAwaitingBuddy) {
            timer_ += elapsedMs;
            if (timer_ > (state_ == kSeekingBuddy ? kBuddyRequestRetryMs : kBuddyWaitMs)) {
                timer_ = 0;
                requestBuddy(nullptr);
            }
            return false;
        }
    }
    if (state_ == kSettled && buddy_ == nullptr) {
        host_.removeTask(this);
        return false;
    }
    // The buddy hears a ping every minute, and only while there is one.
    if ((state_ == kTesting || state_ == kSettled) && buddy_ != nullptr) {
        timer_ += elapsedMs;
        if (timer_ > kBuddyPingMs) {
            timer_ = 0;
            if (PeerLink* link = host_.peers()) link->sendPing(buddy_);
        }
    }
    return false;
}

void FirewallTask::tickTester(Tester& tester, int elapsedMs) {
    switch (tester.state) {
        case 0: {
            ContactList* table = gateway_.contacts();
            Node* contact = table != nullptr ? table->randomContact() : nullptr;
            const Node& own = self_.node();
            if (contact == nullptr || contact->hasAddress(own.ip, own.port) || contact->sameId(&own)) return;
            tester.node = *contact;
            tester.state = 2;
            tester.timer = kTesterCheckStartMs;
            tester.heardIp = false;
            UDPPacket* packet = gateway_.newPacket(contact->ip, contact->port, INODE_FIREWALLCHECK, kFirewallCheckSize);
            packet->buffer()->write_16(static_cast<uint16_t>(host_.doorPort()));
            gateway_.send(packet);
            break;
        }
        case 2:
            tester.timer += elapsedMs;
            if (tester.timer > kTesterGiveUpMs) {
                // Another contact is asked at the next tick; what this one
                // said stays.
                tester.state = 0;
                tester.timer = 0;
            }
            break;
        default:
            break;
    }
}

void FirewallTask::resetTesters() {
    for (Tester& tester : testers_) tester = Tester();
}

void FirewallTask::settleTesters() {
    for (Tester& tester : testers_) tester.state = 3;
}

void FirewallTask::restartTest() {
    if (state_ == kTesting) return;
    host_.addTask(this);
    state_ = kTesting;
    timer_ = 0;
    resetTesters();
}

FirewallTask::Tester* FirewallTask::testerFor(uint32_t ip, int port, bool forIp) {
    // The first tester of that address still waiting for what came: the
    // same contact may have been drawn for two testers.
    for (Tester& tester : testers_) {
        if (tester.state != 2 || !tester.node.hasAddress(ip, port)) continue;
        if (forIp ? !tester.heardIp : tester.answer == 2) return &tester;
    }
    return nullptr;
}

bool FirewallTask::handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* reader, const i4_address* sender) {
    if (sender == nullptr) return false;
    uint32_t ip = addressToIp(sender);
    int port = sender->port();
    switch (opcode) {
        case INODE_YOURIP:
            yourIp(reader, ip, port);
            return true;
        case INODE_FIREWALLOPEN:
            answer(0, ip, port);
            return true;
        case INODE_FIREWALLED:
            answer(1, ip, port);
            return true;
        case INODE_BUDDYACCEPT:
            buddyAccept(reader, ip, port);
            return true;
        case INODE_BUDDYREFUSE:
            if ((state_ == kSeekingBuddy || state_ == kAwaitingBuddy) && fromCandidate(ip, port)) requestBuddy(nullptr);
            return true;
        default:
            return false;
    }
}

void FirewallTask::yourIp(i4_ram_file_class* reader, uint32_t ip, int port) {
    if (reader->remaining() < kYourIpSize) return;
    uint32_t seen = reader->read_32();
    // 0 is no address, and it is also what a tester that has not reported
    // holds: a report of 0 is ignored, so it can neither agree with those
    // nor become the own address.
    if (seen == 0) return;
    Tester* tester = testerFor(ip, port, true);
    if (tester == nullptr) return;
    tester->reportedIp = seen;
    tester->heardIp = true;
    tester->timer = 0;
    for (Tester& other : testers_) {
        if (&other != tester && other.reportedIp != 0 && other.reportedIp == seen) {
            self_.setIp(seen);
            return;
        }
    }
    for (const Tester& any : testers_)
        if (any.reportedIp == 0) return;
    resetTesters();
}

void FirewallTask::answer(int value, uint32_t ip, int port) {
    Tester* tester = testerFor(ip, port, false);
    if (tester == nullptr) return;
    tester->answer = value;
    tester->state = 3;
    tester->timer = 0;
    for (Tester& other : testers_) {
        if (&other != tester && other.answer == value) {
            Node decider = other.node;
            decide(value == 1, &decider);
            return;
        }
    }
    for (const Tester& any : testers_)
        if (any.answer == 2) return;
    resetTesters();
}

void FirewallTask::decide(bool firewalled, const Node* node) {
    if (firewalled) {
        verdict_ = true;
        // Looking for a buddy from now on, also when nobody can be asked
        // yet: the tick asks again.
        if (state_ != kSettled || buddy_ == nullptr) {
            state_ = kSeekingBuddy;
            timer_ = 0;
        }
        settleTesters();
        requestBuddy(node);
        gateway_.updateLocation();
        gateway_.ui().firewalled();
        return;
    }
    // Open counts only with an own address others can reach. Testers that
    // agreed without one start over; a verdict from elsewhere restarts a
    // test that is not running.
    if (self_.ip() <= kLastLowIdAddress) {
        if (node != nullptr && state_ == kTesting)
            resetTesters();
        else
            restartTest();
        return;
    }
    settleTesters();
    if (ContactList* table = gateway_.contacts()) table->add(&self_.node());
    verdict_ = false;
    state_ = kSettled;
    host_.addTask(this);
    gateway_.updateLocation();
    publishPending();
}

void FirewallTask::requestBuddy(const Node* node) {
    if (buddy_ != nullptr) {
        flock_debug("Trying to get two buddies\n");
        state_ = kSettled;
        return;
    }
    const Node& own = self_.node();
    auto isOwn = [&](const Node* n) { return n->sameId(&own) || n->hasAddress(own.ip, own.port); };
    if (node == nullptr || isOwn(node)) {
        ContactList* table = gateway_.contacts();
        node = table != nullptr ? table->randomContact() : nullptr;
        if (node == nullptr || isOwn(node)) return;
    }
    buddyCandidate_ = *node;
    state_ = kSeekingBuddy;
    timer_ = 0;
    UDPPacket* packet = gateway_.newPacket(node->ip, node->port, INODE_BUDDYREQUEST, kNodeRecordSize);
    own.write(packet->buffer());
    gateway_.send(packet);
}

bool FirewallTask::fromCandidate(uint32_t ip, int port) const { return buddyCandidate_.hasAddress(ip, port); }

void FirewallTask::buddyAccept(i4_ram_file_class* reader, uint32_t ip, int port) {
    // Only the contact asked, and only while one is asked.
    if (state_ != kSeekingBuddy && state_ != kAwaitingBuddy) return;
    if (!fromCandidate(ip, port) || reader->remaining() < kBuddyAcceptSize) return;
    buddyUserIp_ = ip;
    buddyUserPort_ = reader->read_16();
    PeerLink* link = host_.peers();
    TCPConnection* connection = nullptr;
    int result = link != nullptr ? link->connect(buddyUserIp_, buddyUserPort_, &connection) : PeerLink::kNotCalled;
    if (result == PeerLink::kConnected && connection != nullptr) {
        link->hold(connection, "FirewallTask::newPeer");
        buddyConnected(connection);
    } else if (result == PeerLink::kConnecting) {
        state_ = kAwaitingBuddy;
        timer_ = 0;
    } else {
        requestBuddy(nullptr);
    }
}

void FirewallTask::newPeer(TCPConnection* connection) {
    PeerLink* link = host_.peers();
    if (buddy_ != nullptr || link == nullptr || !gateway_.running() || buddyUserIp_ == 0) return;
    PeerFacts facts = link->facts(connection);
    if (facts.socketIp != buddyUserIp_ || facts.port != buddyUserPort_) return;
    link->hold(connection, "FirewallTask::newPeer");
    buddyConnected(connection);
}

void FirewallTask::connectFailed(uint32_t ip, uint16_t port) {
    if (state_ != kAwaitingBuddy || ip != buddyUserIp_ || port != buddyUserPort_) return;
    buddyLost();
}

void FirewallTask::peerClosed(TCPConnection* connection) {
    if (connection == nullptr || connection != buddy_) return;
    // The connection is going: its use goes with it.
    buddy_ = nullptr;
    if (verdict_ && state_ != kTesting) buddyLost();
}

void FirewallTask::buddyLost() {
    state_ = kSeekingBuddy;
    timer_ = kBuddyLostTimerMs;
    host_.addTask(this);
}

void FirewallTask::buddyConnected(TCPConnection* connection) {
    PeerLink* link = host_.peers();
    if (link == nullptr) return;
    buddy_ = connection;
    state_ = kSettled;
    timer_ = 0;
    host_.addTask(this);
    PeerFacts facts = link->facts(connection);
    gateway_.setBuddy(facts.helloIp, buddyCandidate_.port, 1);
    self_.setIp(1);
    if (ContactList* table = gateway_.contacts()) table->remove(&self_.node());

    Service record;
    record.serviceId.copy(self_.node().id);
    record.descId.bytes()[0] = kBuddyRecordMark;
    int32_t buddyIp = static_cast<int32_t>(facts.socketIp);
    int32_t buddyPort = buddyCandidate_.port;
    record.set("ip", &buddyIp, kTagInt);
    record.set("port", &buddyPort, kTagInt);
    gateway_.unpublish(&record);
    gateway_.publish(&record, true, 1.0);

    gateway_.updateLocation();
    publishPending();
}

uint32_t FirewallTask::buddyIp() {
    PeerLink* link = host_.peers();
    if (buddy_ == nullptr || link == nullptr) return 0;
    return link->facts(buddy_).socketIp;
}

bool FirewallTask::canPublishLocation() {
    int now = status();
    if (now == NetworkGateway::kUnknown) return false;
    if (now == NetworkGateway::kFirewalled) return buddy_ != nullptr;
    // The open form names the own address: never a low one.
    return self_.ip() > kLastLowIdAddress;
}

void FirewallTask::publishLocation(const UniqueID& hash) {
    if (canPublishLocation()) {
        publishLocationNow(hash);
        return;
    }
    if (pendingSet_.insert(idKey(hash)).second) pending_.push_back(hash);
}

void FirewallTask::publishLocationNow(const UniqueID& hash) {
    Service location;
    location.set("loc", gateway_.location().c_str(), kTagString);
    location.serviceId.copy(hash);
    location.descId.copy(self_.node().id);
    gateway_.publish(&location, true, kLocationFactor);
}

void FirewallTask::publishPending() {
    if (canPublishLocation()) {
        for (const UniqueID& hash : pending_) publishLocationNow(hash);
        pending_.clear();
        pendingSet_.clear();
    }
    gateway_.helloLookup();
}

#include "overlay/gateway/flock_gateway.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <cstdlib>
#include <vector>

#include "core/net/check_trailer.h"
#include "core/net/ip_text.h"
#include "core/net/udp_packet.h"
#include "overlay/gateway/black_udp_annex.h"
#include "overlay/routing/contact_list.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/requests/flock_reply_server.h"
#include "overlay/index/file_keywords.h"
#include "overlay/index/flock_download_sources.h"
#include "overlay/requests/hello_requester.h"
#include "overlay/index/location_link.h"
#include "overlay/opcodes.h"
#include "overlay/gateway/peer_link.h"
#include "overlay/requests/requester.h"
#include "overlay/requests/search_requester.h"
#include "overlay/index/service_search.h"
#include "overlay/index/shared_hash_provider.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/meta/user_meta.h"
#include "v4ada/digest/md4.h"
#include "v4ada/net/address.h"
#include "v4ada/net/socket.h"

namespace {
std::atomic<FlockGateway*> gFlockGateway{nullptr};
}  // namespace

FlockGateway* flockGateway() { return gFlockGateway.load(); }

FlockGateway* setFlockGateway(FlockGateway* gateway) { return gFlockGateway.exchange(gateway); }

FlockGateway::FlockGateway(FlockHost& host)
    : host_(host),
      self_(*this, host_),
      handler_(*this, host_),
      dispatcher_(*this),
      statLogger_(*this, host_, directory_),
      callAsker_(*this, host_),
      server_(*this, self_, directory_, refresher_),
      cleaner_(directory_),
      booter_(*this, host_, self_),
      buddies_(*this, host_),
      explorers_(*this),
      firewall_(*this, host_, self_),
      publisher_(*this),
      refresher_(*this, self_) {}

FlockGateway::~FlockGateway() {
    release();
    if (links_ != nullptr) {
        links_->removeHandler(&firewall_);
        links_->removeHandler(&buddies_);
    }
    handler_.unsubscribe(bus_);
}

void FlockGateway::start() {
    if (running_) return;
    self_.load();
    contacts_ = new ContactList(self_.id(), kBucketCapacity);
    replyServer_ = new FlockReplyServer(*this, refresher_);
    running_ = true;
    createUdpSocket(kUdpSocketTimeoutMs, kFlockMarker);
    if (links_ == nullptr && (links_ = host_.peers()) != nullptr) {
        links_->addHandler(&firewall_);
        links_->addHandler(&buddies_);
    }
    for (TimeSliceTask* task : std::initializer_list<TimeSliceTask*>{
             &firewall_, &buddies_, replyServer_, &publisher_, &cleaner_, &refresher_, &statLogger_})
        host_.addTask(task);
    if (bus_ == nullptr && (bus_ = host_.bus()) != nullptr) handler_.subscribe(bus_);
    booter_.loadContacts();
}

void FlockGateway::stop() {
    if (!running_) return;
    booter_.saveContacts(contacts_);
    release();
    self_.save();
}

void FlockGateway::release() {
    stopping_ = true;
    // Lookups end their requesters; those aimed at a given node have none.
    explorers_.clear();
    std::vector<uint64_t> left;
    for (const auto& entry : requesters_) left.push_back(entry.first);
    for (uint64_t serial : left)
        if (Requester* requester = liveRequester(serial)) requester->finish();
    callAsker_.clear();
    withdrawEndpoint();
    if (replyServer_ != nullptr) host_.removeTask(replyServer_);
    for (TimeSliceTask* task : std::initializer_list<TimeSliceTask*>{
             &firewall_, &buddies_, &publisher_, &cleaner_, &refresher_, &statLogger_, &booter_})
        host_.removeTask(task);
    delete contacts_;
    contacts_ = nullptr;
    delete replyServer_;
    replyServer_ = nullptr;
    running_ = false;
    stopping_ = false;
}

void FlockGateway::withdrawEndpoint() {
    if (endpoint_ == nullptr) return;
    endpoint_->disown();
    host_.withdrawEndpoint(endpoint_);
    endpoint_ = nullptr;
}

void FlockGateway::createUdpSocket(int timeoutMs, uint8_t marker) {
    withdrawEndpoint();
    i4_socket* socket = host_.openDatagramSocket(self_.udpPort(), timeoutMs);
    if (socket == nullptr) {
        flock_print_raw("ERROR: Couldn't create UDP socket.\n");
        flock_print_raw("Please check your proxy settings.\n");
        return;
    }
    if (self_.udpPort() == 0) {
        // The system picked the port: that is the own port now.
        i4_tcpip_address* local = socket->localAddress();
        if (local != nullptr) self_.takeBoundPort(local->port());
        delete local;
    }
    auto endpoint = new BlackUDPAnnex(socket, marker, this);
    for (uint8_t opcode : {INODE_CONNECT, INODE_HELLO, INODE_ROUTE, INODE_SEARCH, INODE_PUBLISH, INODE_CHECK,
                           INODE_CHECKREPLY, INODE_DEADNODE, INODE_GETNUMBUDDIES})
        endpoint->setHandler(&server_, opcode);
    for (uint8_t opcode : {INODE_ROUTEREPLY, INODE_HELLOREPLY, INODE_SEARCHRESULT, INODE_SEARCHEND,
                           INODE_PUBLISHACK, INODE_CALLRELAYED, INODE_CALLFAILED})
        endpoint->setHandler(replyServer_, opcode);
    endpoint->setHandler(&booter_, INODE_CONNECTREPLY);
    for (uint8_t opcode : {INODE_YOURIP, INODE_FIREWALLOPEN, INODE_FIREWALLED, INODE_BUDDYACCEPT, INODE_BUDDYREFUSE})
        endpoint->setHandler(&firewall_, opcode);
    for (uint8_t opcode : {INODE_CALLREQUEST, INODE_BUDDYREQUEST, INODE_FIREWALLCHECK})
        endpoint->setHandler(&buddies_, opcode);
    if (!host_.serveEndpoint(endpoint)) {
        flock_print_raw("ERROR: Couldn't create UDP socket.\n");
        return;
    }
    endpoint_ = endpoint;
}

void FlockGateway::blacklistNode(const Node* node) {
    if (node == nullptr) return;
    Node* listed = blacklist_.addOrUpdate(node);
    blacklisted_.insert(addressKey(listed->ip, listed->port));
    if (contacts_ != nullptr) contacts_->remove(node);
}

bool FlockGateway::isBlacklisted(uint32_t ip, int port) const { return blacklisted_.count(addressKey(ip, port)) > 0; }

void FlockGateway::helloLookup() {
    if (!running_ || stopping_) return;
    (new HelloRequester(*this, self_.id(), kHelloWanted))->start();
}

void FlockGateway::sendCheck(const char* address, int port, int opcode) {
    uint32_t ip = ipFromText(address);
    if (ip != 0) sendCheck(ip, port, opcode);
}

void FlockGateway::sendCheck(uint32_t ip, int port, int opcode) {
    if (endpoint_ == nullptr) return;
    UDPPacket* packet = newPacket(ip, port, static_cast<uint8_t>(opcode), kCheckPayloadSize);
    PacketBuffer* out = packet->buffer();
    out->write_32(kCheckVersion);
    ownNode().write(out);
    for (int i = 0; i < 4; i++) out->write_32(static_cast<uint32_t>(rand()));
    out->write_32(0);  // the trailer's place
    messageCheckTrailer(out->data(), kCheckDatagramSize, kCheckTrailerSeed);
    send(packet);
}

void FlockGateway::bootFrom(const char* address, int port) {
    uint32_t ip = ipFromText(address);
    if (ip != 0) booter_.bootFrom(ip, port);
}

uint32_t FlockGateway::estimatedUsers() {
    if (contacts_ == nullptr) return 0;
    double users = contacts_->estimateSize() * 3.5;
    return users >= static_cast<double>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(users);
}

uint32_t FlockGateway::estimatedFiles() {
    if (contacts_ == nullptr) return 0;
    uint64_t files = static_cast<uint64_t>(contacts_->estimateSize()) * static_cast<uint64_t>(directory_.count()) / 10;
    return static_cast<uint32_t>(std::min<uint64_t>(files, UINT32_MAX));
}

UDPPacket* FlockGateway::newPacket(uint32_t ip, int port, uint8_t opcode, int payloadLength) {
    uint8_t bytes[4];
    ipToBytes(ip, bytes);
    i4_tcpip_address address(bytes, port);
    auto packet = new UDPPacket(1 + payloadLength, &address, endpoint_ != nullptr ? endpoint_->marker() : kFlockMarker);
    packet->buffer()->write_8(opcode);
    return packet;
}

void FlockGateway::send(UDPPacket* packet) {
    if (endpoint_ != nullptr)
        endpoint_->send(packet);
    else
        delete packet;
}

uint64_t FlockGateway::trackRequester(Requester* requester) {
    uint64_t serial = ++nextSerial_;
    requesters_.emplace(serial, requester);
    return serial;
}

Requester* FlockGateway::liveRequester(uint64_t serial) const {
    auto found = requesters_.find(serial);
    return found != requesters_.end() ? found->second : nullptr;
}

// ---- NetworkGateway ----

bool FlockGateway::askCallback(UserMeta* user) { return callAsker_.askForSource(user); }

void FlockGateway::publishFile(FileMeta* file) {
    if (file == nullptr) return;
    firewall_.publishLocation(file->fileHash());
    // One walk over the tags: a record may carry very many.
    std::vector<std::string> names;
    file->sweepTags([&names](MetaTag* tag) {
        if (tag->specialId() == ST_NAME && tag->type() == kTagString && tag->value() != nullptr)
            names.emplace_back(static_cast<const char*>(tag->value()));
        return false;
    });
    int published = 0;
    for (const std::string& name : names) {
        if (published >= kKeywordsPerFile) break;
        for (const std::string& keyword : fileKeywords(name.c_str(), kKeywordsPerFile - published)) {
            Service service;
            md4String(service.serviceId.bytes(), keyword.c_str());
            service.descId.copy(file->fileHash());
            service.copyFrom(file);
            publish(&service, false, 1.0);
            published++;
        }
    }
}

DownloadSources* FlockGateway::newDownloadSources() { return new FlockDownloadSources(*this); }

void FlockGateway::republishAll() {
    firewall_.restartTest();
    if (SharedHashProvider* provider = sharedHashProvider())
        for (const UniqueID& hash : provider->sharedHashes()) firewall_.publishLocation(hash);
}

bool FlockGateway::isUnreachable(const UserMeta* user) {
    if (user == nullptr) return true;
    return user->ip() < kUnreachableAddressBelow || user->buddyIp() < kLowIdLimit;
}

int FlockGateway::setFirewalled(int verdict) {
    firewall_.decide(verdict != 0, nullptr);
    return verdict;
}

void FlockGateway::setBuddy(uint32_t ip, int port, int) { host_.setBuddy(ip, port); }

// ---- location, publishing, searching ----

void FlockGateway::updateLocation() {
    OwnedString link = firewall_.status() == kFirewalled
                           ? buddyLocationLink(self_.id(), firewall_.buddyIp(), firewall_.buddyPort())
                           : openLocationLink(self_.ip(), host_.doorPort());
    location_ = link;
    // The index must not keep an old port or buddy for hours. A link built
    // while nothing may be published (a retest learning a new address) is
    // pushed once publishing may go on: the comparison is with the link the
    // records were last given, not with the last one built.
    if (!firewall_.canPublishLocation()) return;
    if (!pushedLocation_.isNull() && std::strcmp(pushedLocation_.c_str(), link.c_str()) == 0) return;
    pushedLocation_ = link;
    publisher_.relocate(location_.c_str(), self_.id());
}

int FlockGateway::publish(Service* service, bool front, double factor) {
    if (service != nullptr) publisher_.add(*service, front, factor);
    return 1;
}

void FlockGateway::unpublish(Service* service) {
    if (service != nullptr) publisher_.remove(*service);
}

int FlockGateway::startSearch(ServiceSearch* search, ResultCallback* callback) {
    if (search == nullptr) return 1;
    if (!running_ || stopping_) {
        delete search;
        return 1;
    }
    (new SearchRequester(*this, search, callback))->start();
    return 1;
}

int FlockGateway::searchNode(Node* node, ServiceSearch* search, ResultCallback* callback) {
    if (node == nullptr || search == nullptr || !running_ || stopping_) {
        delete node;
        delete search;
        return 1;
    }
    (new SearchRequester(*this, search, callback, node))->start();
    return 1;
}

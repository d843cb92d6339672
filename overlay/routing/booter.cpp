#include "overlay/routing/booter.h"

#include <unordered_map>

#include "core/net/ip_text.h"
#include "core/net/udp_packet.h"
#include "core/ui/flock_ui.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/gateway/flock_host.h"
#include "overlay/gateway/flock_output.h"
#include "overlay/id_key.h"
#include "overlay/opcodes.h"
#include "overlay/requests/flock_server.h"
#include "overlay/routing/contact_list.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/net/address.h"

void Booter::loadContacts() {
    const char* path = self_.contactPath().c_str();
    bootList_.deleteAll();
    if (!bootList_.load(path)) {
        flock_print_raw("Error loading contact list\n");
        // Kept aside, so that the next save does not write over what the
        // user may still recover.
        OwnedString aside = fs_keep_aside(path);
        if (aside.isNull())
            flock_print("%s could not be read and could not be moved aside", path);
        else
            flock_print("%s could not be read; kept as %s", path, aside.c_str());
    }
    bootList_.shuffle();
    bootList_.sortByMisses();
    host_.addTask(this);
    startBooting();
}

void Booter::startBooting() {
    nextIndex_ = 0;
    elapsed_ = 0;
    booting_ = true;
    bootStep();
}

void Booter::bootStep() {
    Node* batch[kBootBatch];
    bool any = false;
    for (int i = 0; i < kBootBatch; i++) {
        batch[i] = static_cast<Node*>(bootList_.at(nextIndex_ + i));
        any = any || batch[i] != nullptr;
    }
    nextIndex_ += kBootBatch;
    if (!any) {
        finish(false);
        return;
    }
    elapsed_ = 0;
    for (Node* node : batch) {
        if (node == nullptr) continue;
        node->misses++;
        sendConnect(node->ip, node->port);
    }
}

void Booter::bootFrom(uint32_t ip, int port) {
    if (bootList_.findByAddress(ip, port) == nullptr) {
        Node node;
        node.ip = ip;
        node.port = port;
        bootList_.addCopy(&node);
    }
    startBooting();
}

bool Booter::handle(uint8_t opcode, UDPAnnex*, i4_ram_file_class* reader, const i4_address* sender) {
    if (opcode != INODE_CONNECTREPLY || sender == nullptr) return false;
    Node* asked = bootList_.findByAddress(addressToIp(sender), sender->port());
    if (asked == nullptr) return false;  // not a node we asked: not read at all
    if (reader->remaining() < kConnectReplyHeaderSize) return false;
    uint16_t count = reader->read_16();
    if (reader->remaining() < static_cast<i4_pos>(count) * kNodeRecordSize) return false;
    asked->misses = 0;
    if (count == 0) return true;
    for (int i = 0; i < count; i++) readAndOfferNode(gateway_, reader);
    ContactList* table = gateway_.contacts();
    if (table != nullptr && table->estimateSize() > kBootedEstimate) finish(true);
    return true;
}

bool Booter::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    if (booting_) {
        if (elapsed_ > kBootStepMs) bootStep();
    } else if (elapsed_ > kContactSaveEveryMs) {
        saveContacts(gateway_.contacts());
        elapsed_ = 0;
    }
    return false;
}

void Booter::saveContacts(ContactList* table) {
    if (table != nullptr) {
        std::unordered_map<IdKey, Node*, IdKeyHash> known;
        for (Node* node : bootList_.nodes()) known.emplace(idKey(node->id), node);
        LL contacts;
        table->allContacts(&contacts);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(&contacts, &cursor)) {
            auto contact = static_cast<Node*>(element);
            auto found = known.find(idKey(contact->id));
            if (found != known.end()) {
                found->second->copyFrom(contact);
            } else {
                Node* added = new Node(*contact);
                bootList_.prepend(added);
                known.emplace(idKey(added->id), added);
            }
        }
    }
    bootList_.sortByMisses();
    bootList_.keepFirst(kContactFileKeep);
    if (!bootList_.save(self_.contactPath().c_str(), kContactFileKeep))
        flock_print_raw("Error saving contact list\n");
}

void Booter::sendConnect(uint32_t ip, int port) {
    if (gateway_.endpoint() == nullptr) {
        flock_print_raw("ERROR: UDP port not open.\n");
        return;
    }
    UDPPacket* packet = gateway_.newPacket(ip, port, INODE_CONNECT, kConnectSize);
    self_.node().write(packet->buffer());
    gateway_.send(packet);
}

void Booter::finish(bool success) {
    booting_ = false;
    booted_ = success;
    gateway_.ui().bootDone(success);
}

// Peer: the senders. Each builds one frame and queues it.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/meta/file_list.h"
#include "core/net/tcp_frame.h"
#include "core/net/tcp_packet.h"
#include "core/ui/ui_gateway.h"
#include "downloads/peer_downloads.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/string/text_convert.h"

namespace {

// The room a message may fill: the frame cap less the opcode byte.
constexpr uint32_t kPayloadCap = kMaxFrameLength - 1;

// The wire size of an encoded string.
uint32_t stringWireSize(const OwnedString& text) { return 2u + static_cast<uint32_t>(text.length()); }

}  // namespace

TCPPacket* Peer::newMessage(uint8_t opcode, int payloadLength) {
    auto packet = new TCPPacket(payloadLength, kFrameMarker);
    packet->buffer()->write_8(opcode);
    return packet;
}

void Peer::queueEmpty(uint8_t opcode) { queue(newMessage(opcode, 1)); }

void Peer::queueHash(uint8_t opcode, const UniqueID& hash) {
    TCPPacket* packet = newMessage(opcode, 1 + kUniqueIdSize);
    hash.write(packet->buffer());
    queue(packet);
}

void Peer::sendHashSetRequest(const UniqueID& hash) {
    queueHash(prValue_ == 1 ? ICLT_FILE_META_REQUEST : ICLT_HASHSET_REQUEST, hash);
}

bool Peer::sendFileStatusRequest(PeerDownload* download) {
    if (!download || !download->hasPartialFile()) return false;
    uint64_t minimum = prValue_ == 1 ? kStatusMinCrumbPeer : kStatusMinPartPeer;
    if (download->fileSize() <= minimum) return false;
    queueHash(ICLT_FILE_STATUS_REQUEST, download->fileHash());
    return true;
}

void Peer::sendPartRequest(PeerDownload* download, const uint32_t starts[3], const uint32_t ends[3]) {
    if (!download) return;
    TCPPacket* packet = newMessage(ICLT_PART_REQUEST, 1 + kUniqueIdSize + 24);
    PacketBuffer* out = packet->buffer();
    download->fileHash().write(out);
    for (int i = 0; i < 3; i++) out->write_32(starts[i]);
    for (int i = 0; i < 3; i++) out->write_32(ends[i]);
    queue(packet);
}

void Peer::sendFileMeta(const UniqueID& hash) {
    PeerShares* shares = peerShares();
    FileMeta* file = shares ? shares->sharedFile(hash) : nullptr;
    if (!file) {
        sendNoSuchFile(hash);
        return;
    }
    TCPPacket* packet = newMessage(ICLT_FILE_META, 1 + kUniqueIdSize + file->hashSetsSize());
    hash.write(packet->buffer());
    file->writeHashSets(packet->buffer());
    queue(packet);
}

void Peer::sendFileStatus(const UniqueID& hash) {
    PeerShares* shares = peerShares();
    FileMeta* file = shares ? shares->sharedFile(hash) : nullptr;
    if (!file) {
        sendNoSuchFile(hash);
        return;
    }
    BoolArray map;
    if (file->path().isEmpty()) {
        // A partial download shared with its verified parts.
        PeerDownloads* downloads = peerDownloads();
        PeerDownload* download = downloads ? downloads->findDownload(hash) : nullptr;
        bool copied = false;
        if (download) {
            copied = prValue_ == 1 ? download->copyCrumbMap(map) : download->copyPartMap(map);
            download->release();
        }
        if (!copied) {
            sendNoSuchFile(hash);
            return;
        }
    }
    TCPPacket* packet = newMessage(ICLT_FILE_STATUS, 1 + kUniqueIdSize + static_cast<int>(map.serializedSize()));
    PacketBuffer* out = packet->buffer();
    hash.write(out);
    map.write(out);
    // The empty map (the whole file) is followed by one byte that carries
    // nothing, so every status is count/8 + 3 bytes long.
    if (map.count() == 0) out->write_8(0);
    queue(packet);
}

void Peer::sendDirectoryRequest(const char* directory) {
    if (!directory) {
        queueEmpty(ICLT_DIRECTORY_LIST_REQUEST);
        return;
    }
    OwnedString name(directory);
    TCPPacket* packet = newMessage(ICLT_DIRECTORY_FILES_REQUEST, 1 + static_cast<int>(stringWireSize(name)));
    name.write(packet->buffer());
    queue(packet);
}

bool Peer::directoryLogDue(const char* directory) {
    ClientPool* pool = clientPool();
    if (!pool) return true;
    // The peer by the address its connection comes from (not the user hash
    // or address its hello claims: a peer chooses those, and fresh ones
    // would each get lines of their own); the directory by a digest of its
    // name, so that a table of keys stays small whatever peers ask.
    const uint32_t ip = socketIp();
    std::string peer(reinterpret_cast<const char*>(&ip), sizeof ip);
    std::string key;
    if (directory) key = "/" + std::to_string(std::hash<std::string_view>{}(directory));
    return pool->directoryLogRate().allow(peer, key);
}

void Peer::sendDirectoryList() {
    OwnedString nick(user_.nickname());
    UIGateway* ui = currentUI();
    // Names from the peer go to the log with their control bytes escaped,
    // so that they cannot forge a line.
    if (ui && directoryLogDue(nullptr))
        ui->log("Sending Shared Directory List: %s", printableText(nick.c_str()).c_str());
    PeerShares* shares = peerShares();
    std::vector<OwnedString> kept;
    if (shares) {
        // Directories with files only, as many as one frame carries.
        uint32_t size = 4;
        for (OwnedString& name : shares->directoryNames()) {
            FileList* files = shares->directoryFiles(name.c_str());
            if (!files || files->count() == 0) continue;
            if (name.length() > kStringMaxEncoded) continue;
            if (size + stringWireSize(name) > kPayloadCap) break;
            size += stringWireSize(name);
            kept.push_back(name);
        }
    }
    uint32_t size = 4;
    for (const OwnedString& name : kept) size += stringWireSize(name);
    TCPPacket* packet = newMessage(ICLT_DIRECTORY_LIST, 1 + static_cast<int>(size));
    packet->buffer()->write_32(static_cast<uint32_t>(kept.size()));
    for (const OwnedString& name : kept) name.write(packet->buffer());
    queue(packet);
}

void Peer::sendDirectoryFiles(const char* directory) {
    OwnedString nick(user_.nickname());
    UIGateway* ui = currentUI();
    if (ui && directoryLogDue(directory ? directory : ""))
        ui->log("Sending Shared File List (%s): %s", printableText(directory).c_str(),
                printableText(nick.c_str()).c_str());
    PeerShares* shares = peerShares();
    FileList* files = shares && directory ? shares->directoryFiles(directory) : nullptr;
    if (!files) return;
    OwnedString name(directory);
    if (name.length() > kStringMaxEncoded) return;
    // Copies without the local tags, as many as one frame carries.
    FileList copies;
    uint32_t size = stringWireSize(name) + 4;
    LLsafe* list = files->list();
    list->lock();
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(list, &cursor)) {
        auto file = static_cast<FileMeta*>(element);
        auto copy = new FileMeta();
        copy->copyFrom(file);
        copy->stripLocalTags();
        uint32_t entry = static_cast<uint32_t>(copy->wireSize());
        if (size + entry > kPayloadCap) {
            delete copy;
            break;
        }
        size += entry;
        copies.add(copy);
    }
    list->unlock();
    if (copies.count() == 0) return;
    TCPPacket* packet = newMessage(ICLT_DIRECTORY_FILES, 1 + static_cast<int>(size));
    name.write(packet->buffer());
    copies.toNetwork(packet->buffer());
    copies.clear();
    queue(packet);
}

void Peer::sendFileViewRefused() { queueEmpty(ICLT_FILE_VIEW_REFUSED); }

void Peer::sendSlotRelease() { queueEmpty(ICLT_SLOT_RELEASE); }

void Peer::sendUploadRequest(const UniqueID& hash) { queueHash(ICLT_UPLOAD_REQUEST, hash); }

void Peer::sendSlotOpen() { queueEmpty(ICLT_SLOT_OPEN); }

void Peer::sendSlotClosed() { queueEmpty(ICLT_SLOT_CLOSED); }

void Peer::sendNoSuchFile(const UniqueID& hash) { queueHash(ICLT_NO_SUCH_FILE, hash); }

void Peer::sendFileNameRequest(const UniqueID& hash) { queueHash(ICLT_FILE_NAME_REQUEST, hash); }

void Peer::sendCallbackRequest(uint32_t ip, uint16_t port) {
    TCPPacket* packet = newMessage(ICLT_CALLBACK_REQUEST, 7);
    packet->buffer()->write_32(ip);
    packet->buffer()->write_16(port);
    queue(packet);
}

void Peer::sendQueueRank(uint32_t rank) {
    TCPPacket* packet = newMessage(ICLT_QUEUE_RANK, 5);
    packet->buffer()->write_32(rank);
    queue(packet);
}

void Peer::sendPing() {
    idleMs_ = 1;
    queueEmpty(ICLT_PING);
}

void Peer::sendPartnerRequest(const UniqueID& hash) { queueHash(ICLT_PARTNER_REQUEST, hash); }

void Peer::sendHaveCrumb(const UniqueID& hash, uint32_t crumb) {
    TCPPacket* packet = newMessage(ICLT_HAVE_CRUMB, 1 + kUniqueIdSize + 4);
    hash.write(packet->buffer());
    packet->buffer()->write_32(crumb);
    queue(packet);
}

void Peer::sendPortReachable() { queueEmpty(ICLT_PORT_REACHABLE); }

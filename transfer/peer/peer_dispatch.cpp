// Peer: the dispatch of received messages.
#include <memory>
#include <utility>
#include <vector>

#include "core/meta/file_list.h"
#include "core/meta/read_limits.h"
#include "core/net/tcp_packet.h"
#include "core/strings/string_table.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "downloads/peer_downloads.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/error/error.h"

namespace {

// Texts shown by key, with their built-in English.
constexpr const char* kClientOldKey = "clientOld";
constexpr const char* kClientOldText = "Either your client or one you are connected to is out of date.";
constexpr const char* kNoFilesKey = "clientDoesntGiveOutFiles";
constexpr const char* kNoFilesText = "Client does not give out files";
constexpr const char* kBadGapsKey = "peerSentBadGaps";
constexpr const char* kBadGapsText = "Peer sent bad file gaps:";

// Parts of 20 crumbs.
constexpr uint64_t kPartBytes = 9728000;
constexpr uint32_t kCrumbsPerPart = 20;

// The referenced download of the hash that opens the message, released
// when the handler is done (also when a short field ends it).
class MessageDownload {
public:
    explicit MessageDownload(i4_ram_file_class* body) {
        UniqueID hash;
        hash.read(body);
        if (PeerDownloads* downloads = peerDownloads()) download_ = downloads->findDownload(hash);
    }
    ~MessageDownload() {
        if (download_) download_->release();
    }
    MessageDownload(const MessageDownload&) = delete;
    MessageDownload& operator=(const MessageDownload&) = delete;

    PeerDownload* get() const { return download_; }

private:
    PeerDownload* download_ = nullptr;
};

UniqueID readHash(i4_ram_file_class* body) {
    UniqueID hash;
    hash.read(body);
    return hash;
}

}  // namespace

bool Peer::onMessage(uint8_t opcode, i4_ram_file_class* body) {
    idleMs_ = 1;
    return dispatch(opcode, body);
}

bool Peer::dispatch(uint8_t opcode, i4_ram_file_class* body) {
    switch (opcode) {
        case ICLT_OLD_CLIENT:
            if (UIGateway* ui = currentUI()) ui->print("%s", uiText(kClientOldKey, kClientOldText).c_str());
            return true;
        case ICLT_DATA: {
            MessageDownload download(body);
            if (download.get()) download.get()->dataReceived(body, this);
            return true;
        }
        case ICLT_PART_REQUEST: {
            UniqueID hash = readHash(body);
            uint32_t starts[3];
            uint32_t ends[3];
            for (uint32_t& start : starts) start = body->read_32();
            for (uint32_t& end : ends) end = body->read_32();
            if (PeerUploads* uploads = peerUploads()) uploads->partRequest(this, hash, starts, ends);
            return true;
        }
        case ICLT_NO_SUCH_FILE: {
            MessageDownload download(body);
            if (download.get()) download.get()->noFile(this);
            return true;
        }
        case ICLT_FILE_DONE:
            readHash(body);
            if (PeerUploads* uploads = peerUploads()) uploads->peerClosed(this);
            return true;
        case ICLT_HELLO_ANSWER:
            return handleHelloAnswer(body);
        case ICLT_SET_ADDRESS: {
            uint32_t ip = body->read_32();
            user_.setBuddyIp(body->read_32());
            setAddress(ip);
            return true;
        }
        case ICLT_MESSAGE: {
            OwnedString text(kMessageTextKept, body);
            PeerMessages* messages = peerMessages();
            bool accepted = messages && messages->gotMessage(&user_, text.c_str() ? text.c_str() : "");
            if (!accepted) queueEmpty(ICLT_MESSAGE_REFUSED);
            return true;
        }
        case ICLT_FILE_STATUS_REQUEST:
            sendFileStatus(readHash(body));
            return true;
        case ICLT_FILE_STATUS: {
            MessageDownload download(body);
            return download.get() ? onFileStatus(download.get(), body) : true;
        }
        case ICLT_HASHSET_REQUEST:
            return true;
        case ICLT_HASHSET_ANSWER: {
            MessageDownload download(body);
            if (download.get() && download.get()->hasPartialFile()) download.get()->setHashSet(body);
            return true;
        }
        case ICLT_MESSAGE_REFUSED:
            if (PeerMessages* messages = peerMessages()) messages->notAcceptingCalls(&user_);
            return true;
        case ICLT_UPLOAD_REQUEST: {
            UniqueID hash = readHash(body);
            if (PeerUploads* uploads = peerUploads()) uploads->queueRequest(this, hash);
            return true;
        }
        case ICLT_SLOT_OPEN:
            onSlotOpen();
            return true;
        case ICLT_SLOT_RELEASE:
            if (PeerUploads* uploads = peerUploads()) uploads->peerClosed(this);
            return true;
        case ICLT_SLOT_CLOSED:
            if (PeerDownloads* downloads = peerDownloads()) downloads->uploadEnded(this);
            return true;
        case ICLT_FILE_NAME_REQUEST: {
            UniqueID hash = readHash(body);
            PeerShares* shares = peerShares();
            FileMeta* file = shares ? shares->sharedFile(hash) : nullptr;
            if (!file) return true;
            OwnedString name(file->name());
            TCPPacket* packet = newMessage(ICLT_FILE_NAME, 1 + kUniqueIdSize + 2 + name.length());
            hash.write(packet->buffer());
            name.write(packet->buffer());
            queue(packet);
            return true;
        }
        case ICLT_FILE_NAME: {
            MessageDownload download(body);
            if (!download.get()) return true;
            OwnedString name(kFileNameKept, body);
            download.get()->fileNameAnswer(name.c_str() ? name.c_str() : "", this);
            return true;
        }
        case ICLT_CALLBACK_REQUEST:
            onCallbackRequest(body);
            return true;
        case ICLT_HAVE_FILE: {
            UniqueID hash = readHash(body);
            if (PeerDownloads* downloads = peerDownloads()) downloads->addSource(hash, &user_, this);
            return true;
        }
        case ICLT_QUEUE_RANK: {
            uint32_t rank = body->read_32();
            if (PeerDownloads* downloads = peerDownloads()) downloads->placeInQueue(this, rank);
            return true;
        }
        case ICLT_DIRECTORY_LIST_REQUEST:
            onDirectoryRequest(nullptr);
            return true;
        case ICLT_DIRECTORY_FILES_REQUEST: {
            OwnedString directory(kDirectoryNameKept, body);
            onDirectoryRequest(directory.c_str() ? directory.c_str() : "");
            return true;
        }
        case ICLT_DIRECTORY_LIST:
            return onDirectoryList(body);
        case ICLT_DIRECTORY_FILES:
            return onDirectoryFiles(body);
        case ICLT_FILE_VIEW_REFUSED:
            if (UIGateway* ui = currentUI()) ui->print("%s", uiText(kNoFilesKey, kNoFilesText).c_str());
            if (TransferUI* ui = currentTransferUI()) ui->filesRefused(&user_);
            if (PeerFriends* friends = peerFriends()) friends->setViewFlag(&user_, false);
            return true;
        case ICLT_PING:
            queueEmpty(ICLT_PONG);
            return true;
        case ICLT_PONG:
            return true;
        case ICLT_PORT_REACHABLE:
            if (NetworkGateway* gateway = networkGateway()) gateway->setFirewalled(NetworkGateway::kOpen);
            return true;
        case ICLT_PARTNER_REQUEST: {
            UniqueID hash = readHash(body);
            PeerDownloads* downloads = peerDownloads();
            bool accepted = false;
            if (downloads) {
                downloads->addSource(hash, &user_, this);
                accepted = downloads->acceptPartner(this, hash);
            }
            queueHash(accepted ? ICLT_PARTNER_ACCEPTED : ICLT_PARTNER_REFUSED, hash);
            return true;
        }
        case ICLT_PARTNER_REFUSED: {
            MessageDownload download(body);
            if (download.get()) download.get()->partnerRefused(this);
            return true;
        }
        case ICLT_PARTNER_ACCEPTED: {
            MessageDownload download(body);
            if (download.get()) download.get()->partnerAccepted(this);
            return true;
        }
        case ICLT_FILE_META: {
            MessageDownload download(body);
            if (download.get() && download.get()->hasPartialFile()) download.get()->setHashSetWithCrumbs(body);
            return true;
        }
        case ICLT_FILE_META_REQUEST:
            sendFileMeta(readHash(body));
            return true;
        case ICLT_HAVE_CRUMB: {
            MessageDownload download(body);
            if (!download.get()) return true;
            uint32_t crumb = body->read_32();
            download.get()->haveNotice(this, crumb);
            return true;
        }
        case ICLT_ADDRESS_MISMATCH:
            if (NetworkGateway* gateway = networkGateway()) gateway->retestFirewall();
            return true;
        default:
            // A later hello, 74, 75 and everything unknown: logged only.
            return TCPConnection::onMessage(opcode, body);
    }
}

bool Peer::onFileStatus(PeerDownload* download, i4_ram_file_class* body) {
    BoolArray received;
    received.read(body);
    uint64_t size = download->fileSize();
    // Both part counts a sender may use: size / part + 1 (the count this
    // protocol has always carried) and ceil(size / part) (what part maps
    // of our own hold, so a file of whole parts must not be refused).
    uint64_t parts = size / kPartBytes + 1;
    uint64_t wholeParts = (size + kPartBytes - 1) / kPartBytes;
    uint32_t crumbs = download->crumbCount();
    unsigned k = received.count();
    if (k == 0) {
        received.resize(crumbs);
        received.setAll(true);
        k = received.count();
    }
    if (k == parts || k == wholeParts) {
        BoolArray widened(crumbs);
        for (uint32_t j = 0; j < crumbs; j++) {
            unsigned part = j / kCrumbsPerPart;
            widened.set(j, part < k && received.get(part));
        }
        download->fileStatus(this, &widened);
        return true;
    }
    if (k == crumbs) {
        download->fileStatus(this, &received);
        return true;
    }
    if (UIGateway* ui = currentUI()) {
        OwnedString nick(user_.nickname());
        ui->print("%s %s (%d[%d or %d])", uiText(kBadGapsKey, kBadGapsText).c_str(), nick.c_str(),
                  static_cast<int>(k), static_cast<int>(parts), static_cast<int>(crumbs));
    }
    return false;
}

void Peer::onSlotOpen() {
    addRef("ICLT_SLOT_OPEN");
    if (PeerDownloads* downloads = peerDownloads()) {
        downloads->openSlot(this);  // drops the use
        return;
    }
    // No download can take the slot: give it back.
    ClientPool* pool = ClientPool::instance();
    if (pool && pool->contains(this)) sendSlotRelease();
    release("ICLT_SLOT_OPEN");
}

void Peer::onCallbackRequest(i4_ram_file_class* body) {
    uint32_t ip = body->read_32();
    uint16_t port = body->read_16();
    // Only our buddy relays calls, and only while we are firewalled: any
    // other peer could make us open lasting connections anywhere.
    NetworkGateway* gateway = networkGateway();
    if (!gateway || gateway->firewallStatus() != NetworkGateway::kFirewalled) return;
    uint32_t buddy = gateway->buddyIp();
    if (buddy == 0 || socketPeerIp() != buddy) {
        debug_printf("Call-back request not from our buddy ignored\n");
        return;
    }
    if (ip < kLowIdLimit) return;
    ClientPool* pool = ClientPool::instance();
    if (!pool) return;
    UserMeta target;
    target.setIp(ip);
    target.setPort(port);
    Peer* out = nullptr;
    pool->connect(&target, &out, true);
}

void Peer::onDirectoryRequest(const char* directory) {
    TransferOptions* options = transferOptions();
    int rule = options ? options->frAllow() : 0;
    bool allowed;
    if (rule == 0) {
        allowed = true;
    } else if (rule == 1) {
        PeerFriends* friends = peerFriends();
        allowed = friends && friends->isFriend(&user_);
    } else if (rule == 2) {
        allowed = false;
    } else {
        return;  // no answer
    }
    if (!allowed)
        sendFileViewRefused();
    else if (directory)
        sendDirectoryFiles(directory);
    else
        sendDirectoryList();
}

bool Peer::onDirectoryList(i4_ram_file_class* body) {
    uint32_t count = body->read_32();
    // Each name takes at least its 2-byte length.
    if (count > bytesLeft(body) / 2) return false;
    std::vector<OwnedString> names;
    names.reserve(count);
    for (uint32_t i = 0; i < count; i++) names.emplace_back(kDirectoryNameKept, body);
    if (PeerFriends* friends = peerFriends()) {
        friends->setViewFlag(&user_, true);
        friends->gotDirectories(&user_, std::move(names));
    }
    return true;
}

bool Peer::onDirectoryFiles(i4_ram_file_class* body) {
    OwnedString directory(kDirectoryNameKept, body);
    PeerFriends* friends = peerFriends();
    if (friends) friends->setViewFlag(&user_, true);
    auto files = std::make_unique<FileList>();
    if (!files->fromNetwork(body)) {
        files->clear();
        return false;
    }
    if (friends) {
        friends->gotFiles(&user_, directory.c_str() ? directory.c_str() : "", std::move(files));
    } else {
        files->clear();
    }
    return true;
}

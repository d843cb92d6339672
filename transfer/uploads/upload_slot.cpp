#include "transfer/uploads/upload_slot.h"

#include <memory>

#include "core/meta/file_meta.h"
#include "core/meta/meta_tag.h"
#include "core/ui/transfer_ui.h"
#include "downloads/peer_downloads.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_sides.h"
#include "transfer/uploads/part_reader.h"
#include "transfer/uploads/part_upload.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"

UploadSlot::UploadSlot(UploadPool* pool) : pool_(pool) {}

UploadSlot::~UploadSlot() { retire(); }

void UploadSlot::notifyChanged() {
    if (TransferUI* ui = currentTransferUI()) ui->uploadSlotChanged(this);
}

void UploadSlot::tellPartners(Peer* connection) {
    if (PeerDownloads* downloads = peerDownloads()) downloads->partnerClosed(connection);
}

// ---- invitations ----

void UploadSlot::tick(int elapsedMs) {
    if (invited_) {
        timer_ += elapsedMs;
        if (timer_ <= kInviteTimeoutMs) return;
        if (retry_) {
            timer_ = 0;
            connect();
        } else {
            debug_printf("Slot time out: %s\n", invited_->nickname());
            dropInvite();
        }
        return;
    }
    // The tick may end the upload (it waited too long for a request).
    if (upload_) upload_->tick(elapsedMs);
    if (upload_) {
        setScore(upload_->score());
    } else {
        setScore(kEmptyScore);
    }
    if (!pool_) return;
    std::unique_ptr<UserMeta> user = pool_->queue().next(score());
    if (!user) return;
    // A user that has a slot already leaves the queue.
    if (pool_->slotOfUser(*user)) return;
    {
        SysMutexGuard guard(&lock_);
        invited_ = std::move(user);
        // The nickname tag is made now, so that readers never change it.
        invited_->nickname();
    }
    notifyChanged();
    connect();
}

void UploadSlot::holdInvitedPeer(Peer* connection, const char* tag) {
    if (connection == invitedPeer_) return;
    connection->addRef(tag);
    if (invitedPeer_) invitedPeer_->release("UploadSlot::invite");
    invitedPeer_ = connection;
}

void UploadSlot::connect() {
    if (!invited_) return;
    timer_ = 0;
    retry_ = false;
    ClientPool* clients = ClientPool::instance();
    Peer* connection = nullptr;
    int result = clients ? clients->connect(invited_.get(), &connection, false) : ClientPool::kNotCalled;
    switch (result) {
        case ClientPool::kConnected:
            if (pool_) pool_->dropRankNotice(connection);
            holdInvitedPeer(connection, "UploadSlot::connect");
            connection->sendSlotOpen();
            break;
        case ClientPool::kNoRoom:
            timer_ = kRetryMs;
            retry_ = true;
            break;
        case ClientPool::kConnecting:
            // newPeer takes the connection once its hello is done.
            break;
        default:
            dropInvite();
            break;
    }
}

bool UploadSlot::newPeer(Peer* connection) {
    if (!invited_ || invited_->userHash().isZero()) return false;
    if (!connection->user()->userHash().equals(invited_->userHash())) return false;
    holdInvitedPeer(connection, "UploadSlot::newPeer");
    connection->sendSlotOpen();
    timer_ = kSelfConnectedMs;
    return true;
}

void UploadSlot::dropInvite() {
    Peer* connection;
    {
        SysMutexGuard guard(&lock_);
        invited_.reset();
        connection = invitedPeer_;
        invitedPeer_ = nullptr;
    }
    retry_ = false;
    if (connection) connection->release("UploadSlot::invite");
    notifyChanged();
}

bool UploadSlot::connectFailed(uint32_t ip, uint16_t port) {
    if (!invited_ || invited_->ip() != ip) return false;
    if (static_cast<int16_t>(invited_->port()) != static_cast<int16_t>(port)) return false;
    dropInvite();
    return true;
}

bool UploadSlot::peerClosed(Peer* connection, bool gone) {
    // A connection being destroyed is never released.
    if (gone && invitedPeer_ == connection) invitedPeer_ = nullptr;
    if (upload_ && upload_->connection() == connection) {
        if (gone) upload_->abort(connection);
        tellPartners(connection);
        endUpload(upload_);
        return true;
    }
    if (invited_ && invited_->sameUser(connection->user())) {
        tellPartners(connection);
        dropInvite();
        return true;
    }
    return false;
}

// ---- uploads ----

bool UploadSlot::partRequest(const UniqueID& hash, const uint32_t starts[3], const uint32_t ends[3],
                             Peer* connection) {
    const bool fromInvited = invited_ && invited_->sameUser(connection->user());
    const bool fromCurrent = upload_ && upload_->connection() == connection;
    if (!fromInvited && !fromCurrent) return false;
    if (fromInvited) {
        // The upload takes its use of the connection before the invitation
        // lets go of its own, so that a connection this client opened is
        // not closed in between.
        Upload* made = makeUpload(hash, connection);
        if (!made) connection->sendNoSuchFile(hash);
        dropInvite();
        if (made) startUpload(made, starts, ends, true);
        return true;
    }
    if (upload_->hash().equals(hash)) {
        upload_->setRanges(starts, ends);
        upload_->resumeDrained();
        return true;
    }
    if (!startUpload(makeUpload(hash, connection), starts, ends, false)) connection->sendNoSuchFile(hash);
    return true;
}

Upload* UploadSlot::makeUpload(const UniqueID& hash, Peer* connection) {
    PeerShares* shares = peerShares();
    FileMeta* shared = shares ? shares->sharedFile(hash) : nullptr;
    if (!shared) return nullptr;
    Upload* made = nullptr;
    if (!shared->path().isEmpty()) {
        // Whatever may have taken the hashed file's place since, only a
        // regular file is served, and the open never waits.
        i4_file* file = fs_open_regular(shared->path().c_str());
        if (!file) {
            debug_printf("File not found for upload: %s\n", shared->path().c_str());
            return nullptr;
        }
        made = new Upload(file, connection, shared->name(), this);
    } else {
        // A partial download shared from "!Incomplete Files".
        PeerDownloads* downloads = peerDownloads();
        PeerDownload* download = downloads ? downloads->findDownload(hash) : nullptr;
        if (!download) return nullptr;
        PartialFile* partial = download->partialFile();
        std::unique_ptr<PartReader> reader = partial ? std::make_unique<PartialFileReader>(partial) : nullptr;
        download->release();
        if (!reader) return nullptr;
        made = new PartUpload(std::move(reader), connection, this);
    }
    made->setHash(hash);
    return made;
}

bool UploadSlot::startUpload(Upload* upload, const uint32_t starts[3], const uint32_t ends[3], bool sendEnd) {
    if (!upload) return false;
    upload->addRef();
    if (Upload* old = upload_) {
        Peer* oldConnection = old->connection();
        UniqueID oldHash = old->hash();
        if (sendEnd && oldConnection) oldConnection->sendSlotClosed();
        endUpload(old);
        // The replaced peer waits again for its file and hears its rank.
        if (oldConnection && pool_) pool_->queue().queueRequest(oldConnection, oldHash);
    }
    {
        SysMutexGuard guard(&lock_);
        upload_ = upload;
    }
    if (pool_) pool_->sortSlots();
    upload->setRanges(starts, ends);
    // Two packets in flight; the first may end the upload.
    if (upload->sendNext()) upload->sendNext();
    notifyChanged();
    if (upload_ == upload && pool_) pool_->tuner().uploadStarted();
    return true;
}

void UploadSlot::endUpload(Upload* upload) {
    if (!upload || upload != upload_) return;
    {
        SysMutexGuard guard(&lock_);
        upload->setPaused(true);
        upload->detachOwner();
        upload_ = nullptr;
    }
    // Outside the lock: the last reference logs and counts the bytes.
    upload->release();
    if (pool_) pool_->tuner().uploadEnded();
    notifyChanged();
    if (pool_) pool_->sortSlots();
}

void UploadSlot::pause() {
    if (upload_) upload_->setPaused(true);
}

void UploadSlot::resume() {
    if (upload_) upload_->setPaused(false);
}

bool UploadSlot::hasUser(const UserMeta& user) {
    if (invited_ && invited_->sameUser(&user)) return true;
    return upload_ && upload_->isUser(user);
}

void UploadSlot::retire() {
    if (!pool_) return;
    UploadPool* pool = pool_;
    if (invited_) {
        // The queue marks a served user with a hash tag "w"; a partner's
        // record is its own hello record, whose "w" may be anything.
        UniqueID wanted;
        MetaTag* mark = invited_->findTag(UploadQueue::kWantedTag);
        if (mark && mark->type() == kTagHash) wanted.copy(static_cast<const uint8_t*>(mark->value()));
        pool->queue().requeueFront(*invited_, wanted);
        Peer* connection;
        {
            SysMutexGuard guard(&lock_);
            invited_.reset();
            connection = invitedPeer_;
            invitedPeer_ = nullptr;
        }
        if (connection) connection->release("UploadSlot::invite");
    }
    if (Upload* upload = upload_) {
        if (Peer* connection = upload->connection()) {
            pool->queue().requeueFront(*connection->user(), upload->hash());
            connection->sendSlotClosed();
            connection->sendQueueRank(1);
        }
        {
            SysMutexGuard guard(&lock_);
            upload->setPaused(true);
            upload->detachOwner();
            upload_ = nullptr;
        }
        upload->release();
    }
    pool_ = nullptr;
}

// ---- readers ----

OwnedString UploadSlot::peerName() {
    SysMutexGuard guard(&lock_);
    if (upload_) return upload_->peerName();
    if (invited_) return OwnedString(invited_->nickname());
    return OwnedString(static_cast<const char*>(nullptr));
}

double UploadSlot::speed() {
    SysMutexGuard guard(&lock_);
    return upload_ ? upload_->averageSpeed() : 0.0;
}

bool UploadSlot::user(UserMeta& out) {
    SysMutexGuard guard(&lock_);
    if (upload_ && upload_->peerUser(out)) return true;
    if (!invited_) return false;
    out.assign(invited_.get());
    return true;
}

const char* UploadSlot::fileName(OwnedString& out) {
    SysMutexGuard guard(&lock_);
    out = upload_ ? upload_->name() : "";
    return out.c_str();
}

bool UploadSlot::fileHash(UniqueID& out) {
    SysMutexGuard guard(&lock_);
    if (!upload_) return false;
    out = upload_->hash();
    return true;
}

UploadqEntry UploadSlot::entry() {
    UploadqEntry out;
    fileHash(out.hash);
    user(out.user);
    return out;
}

#include "transfer/uploads/upload.h"

#include <algorithm>
#include <cstring>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/ui/ui_gateway.h"
#include "downloads/peer_downloads.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_sides.h"
#include "transfer/uploads/upload_hub.h"
#include "transfer/uploads/upload_packet.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"
#include "v4ada/time/random.h"

namespace {

constexpr const char* kStartUploadLog = "Start Upload: %s";
constexpr const char* kEndUploadLog = "End Upload: %s";

void logLine(const char* format, const char* name) {
    if (UIGateway* ui = currentUI()) ui->log(format, name);
}

// Reads until length bytes are in or the file ends; -1 on an error.
int readUpTo(i4_file* file, uint8_t* out, uint32_t length) {
    uint32_t done = 0;
    while (done < length) {
        int got = file->read(out + done, static_cast<int>(length - done));
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<uint32_t>(got);
    }
    return static_cast<int>(done);
}

}  // namespace

Upload::Upload(i4_file* file, Peer* connection, const char* name, UploadOwner* owner)
    : Upload(connection, name, owner, "Upload") {
    file_ = file;
    logLine(kStartUploadLog, this->name());
}

Upload::Upload(Peer* connection, const char* name, UploadOwner* owner, const char* useTag)
    : owner_(owner), name_(name), connection_(connection), helloVerified_(connection->user()->helloVerified() != 0) {
    connection_->addRef(useTag);
    // The pace of this connection's previous upload, if any.
    if (connection_->uploadChunk() != 0) {
        chunkSize_ = connection_->uploadChunk();
        const double speed = connection_->uploadSpeed();
        for (double& sample : samples_) sample = speed;
        sampleCount_ = kSampleCount;
        averageSpeed_.store(speed, std::memory_order_relaxed);
    }
    peer_.assign(connection_->user());
    // The nickname tag is made here, on the task thread, so that the
    // readers never change the copy.
    peer_.nickname();
}

Upload::~Upload() {
    logLine(kEndUploadLog, name());
    if (UploadHub* hub = uploadHub()) hub->addSent(hash_, sent_);
    delete file_;
    // A connection that is being destroyed (its queued packets hold the
    // last references) has left the peer pool already.
    ClientPool* pool = ClientPool::instance();
    if (connection_ && pool && pool->contains(connection_)) connection_->release("~Upload");
}

// ---- ranges ----

void Upload::setRanges(const uint32_t starts[kRangeCount], const uint32_t ends[kRangeCount]) {
    if (sent_ != 0 && !isPartner() && starts[0] / kPartBytes != starts_[0] / kPartBytes) score_.fetch_sub(1);
    // Empty ranges go to the back, so that an empty range between two
    // others never ends the upload before the last one is served.
    int taken = 0;
    for (int i = 0; i < kRangeCount; i++) {
        if (starts[i] >= ends[i]) continue;
        starts_[taken] = starts[i];
        ends_[taken] = ends[i];
        taken++;
    }
    for (int i = taken; i < kRangeCount; i++) starts_[i] = ends_[i] = 0;
    requestBytes_ = 0;
    for (int i = 0; i < taken; i++) requestBytes_ += ends_[i] - starts_[i];
    forgetServedUnlisted(taken);
    // What was sent whole and may still be on its way to the peer is not
    // sent again: each such range is dropped once.
    for (int k = 0; k < servedCount_; k++) {
        for (int i = 0; i < taken; i++) {
            if (starts_[i] != servedStarts_[k] || ends_[i] != servedEnds_[k]) continue;
            for (int j = i; j + 1 < kRangeCount; j++) {
                starts_[j] = starts_[j + 1];
                ends_[j] = ends_[j + 1];
            }
            starts_[kRangeCount - 1] = ends_[kRangeCount - 1] = 0;
            taken--;
            break;
        }
    }
    if (!(position_ > starts_[0] && position_ < ends_[0])) position_ = starts_[0];
}

void Upload::forgetServedUnlisted(int taken) {
    // A range the peer no longer lists has reached it. The socket keeps
    // order, so every range sent before it has reached the peer too: one of
    // those listed again is asked for again (its data failed a check) and
    // is sent again. Only the ranges sent after the last one the peer
    // stopped listing may still be on their way.
    int onTheirWay = servedCount_;
    for (int k = servedCount_ - 1; k >= 0; k--) {
        bool listed = false;
        for (int i = 0; i < taken && !listed; i++) listed = starts_[i] == servedStarts_[k] && ends_[i] == servedEnds_[k];
        if (listed) continue;
        onTheirWay = servedCount_ - 1 - k;
        break;
    }
    const int first = servedCount_ - onTheirWay;
    for (int k = 0; k < onTheirWay; k++) {
        servedStarts_[k] = servedStarts_[first + k];
        servedEnds_[k] = servedEnds_[first + k];
    }
    servedCount_ = onTheirWay;
}

void Upload::nextRange() {
    if (starts_[0] / kPartBytes != starts_[1] / kPartBytes && !isPartner()) score_.fetch_sub(1);
    // Only ranges of the current request are served, at most kRangeCount;
    // should the record be full, the oldest goes.
    if (servedCount_ == kRangeCount) {
        for (int k = 0; k + 1 < kRangeCount; k++) {
            servedStarts_[k] = servedStarts_[k + 1];
            servedEnds_[k] = servedEnds_[k + 1];
        }
        servedCount_--;
    }
    servedStarts_[servedCount_] = starts_[0];
    servedEnds_[servedCount_] = ends_[0];
    servedCount_++;
    for (int j = 0; j + 1 < kRangeCount; j++) {
        starts_[j] = starts_[j + 1];
        ends_[j] = ends_[j + 1];
    }
    starts_[kRangeCount - 1] = ends_[kRangeCount - 1] = 0;
    position_ = starts_[0];
}

// ---- sending ----

bool Upload::sendNext() {
    if (paused_) return true;
    if (aborted_) {
        end();
        return false;
    }
    if (position_ >= ends_[0]) {
        // Every range is sent: the next request may be on its way.
        if (drainedMs_ < 0) {
            drainedMs_ = 0;
            drainLimitMs_ = kDrainWaitMs;
            const double speed = averageSpeed();  // bytes per ms
            if (speed > 0.0) {
                const double transit = static_cast<double>(requestBytes_) / speed;
                if (transit > kDrainWaitMs)
                    drainLimitMs_ = transit >= kDrainWaitMaxMs ? kDrainWaitMaxMs : static_cast<int>(transit);
            }
        }
        return true;
    }
    drainedMs_ = -1;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunkSize_, ends_[0] - position_));
    auto packet = new UploadPacket(kDataHeaderLength + static_cast<int>(n), this);
    PacketBuffer* out = packet->buffer();
    out->write_8(ICLT_DATA);
    hash_.write(out);
    out->write_32(static_cast<uint32_t>(position_));
    out->write_32(static_cast<uint32_t>(position_ + n));
    const uint8_t* data = fillBuffer(n);
    if (data == nullptr) {
        debug_printf("Problem Uploading (%d,%d)\n", static_cast<int>(position_), static_cast<int>(position_ + n));
        delete packet;
        end();
        return false;
    }
    out->write(data, static_cast<int>(n));
    position_ += n;
    inFlight_++;
    connection_->queue(packet);
    connection_->resetIdle();
    if (position_ >= ends_[0]) nextRange();
    return true;
}

void Upload::resumeDrained() {
    if (drainedMs_ < 0 || paused_ || position_ >= ends_[0]) return;
    // A reference of our own: a send may end the upload.
    addRef();
    for (int i = 0; i < 2 && inFlight_ < 2; i++)
        if (!sendNext() || drained()) break;
    release();
}

void Upload::packetSent() {
    if (inFlight_ > 0) inFlight_--;
    sendNext();
}

void Upload::end() {
    // An upload too short for a speed sample still leaves its connection
    // the speed it moved at, for the next upload's packets and its wait.
    if (sampleCount_ == 0 && liveMs_ > 0 && sent_ > 0 && connection_ != nullptr) {
        const double speed = static_cast<double>(sent_) / static_cast<double>(liveMs_);
        const double chunk = (speed / 20.0 + 1.0) * kFirstChunk;
        connection_->setUploadPace(speed, chunk >= kMaxChunk ? kMaxChunk : static_cast<uint32_t>(chunk));
    }
    // The owner may let go of the last reference.
    if (UploadOwner* owner = owner_) owner->endUpload(this);
}

void Upload::setPaused(bool pause) {
    if (!paused_ || pause) {
        paused_ = pause;
        return;
    }
    if (!canUpload()) return;
    paused_ = false;
    // A reference of our own: the first send may end the upload.
    addRef();
    if (sendNext()) sendNext();
    release();
}

void Upload::countSent(int bytes) {
    if (bytes > 0) sent_ += static_cast<uint64_t>(bytes);
}

// ---- reading ----

uint32_t Upload::readSpan(uint32_t length) const {
    uint64_t left = ends_[0] > position_ ? ends_[0] - position_ : 0;
    uint64_t span = std::min<uint64_t>(kReadAhead, left);
    return static_cast<uint32_t>(std::max<uint64_t>(span, length));
}

const uint8_t* Upload::buffered(uint32_t length) const {
    if (aheadLength_ == 0 || position_ < aheadStart_) return nullptr;
    uint64_t offset = position_ - aheadStart_;
    if (offset + length > aheadLength_) return nullptr;
    return ahead_.get() + offset;
}

uint8_t* Upload::aheadBuffer(uint32_t length) {
    aheadLength_ = 0;
    if (aheadCapacity_ < length) {
        ahead_.reset(new uint8_t[length]);
        aheadCapacity_ = length;
    }
    return ahead_.get();
}

void Upload::aheadFilled(uint32_t length) {
    aheadStart_ = position_;
    aheadLength_ = length;
}

void Upload::setFile(i4_file* file) {
    delete file_;
    file_ = file;
    aheadLength_ = 0;
}

const uint8_t* Upload::fillBuffer(uint32_t length) {
    if (const uint8_t* ready = buffered(length)) return ready;
    return fillFromFile(length);
}

const uint8_t* Upload::fillFromFile(uint32_t length) {
    if (const uint8_t* ready = buffered(length)) return ready;
    if (file_ == nullptr) return nullptr;
    const uint32_t span = readSpan(length);
    uint8_t* buffer = aheadBuffer(span);
    int got = -1;
    try {
        if (file_->seek(static_cast<i4_pos>(position_)) == static_cast<i4_pos>(position_))
            got = readUpTo(file_, buffer, span);
    } catch (const i4_err&) {
        got = -1;
    }
    if (got < 0) {
        debug_printf("Exception %d + %d %s\n", static_cast<int>(position_), static_cast<int>(length), name());
        return nullptr;
    }
    if (static_cast<uint32_t>(got) < length) {
        debug_printf("Not all read: %d + (%d/%d) %s\n", static_cast<int>(position_), got, static_cast<int>(length),
                     name());
        return nullptr;
    }
    aheadFilled(static_cast<uint32_t>(got));
    return buffer;
}

// ---- speed and score ----

void Upload::tick(int elapsedMs) {
    if (!paused_) liveMs_ += elapsedMs;
    sampleMs_ += elapsedMs;
    if (sampleMs_ > (sampleCount_ == 0 ? kFirstSampleWindowMs : kSampleWindowMs)) {
        samples_[sampleIndex_] =
            static_cast<double>(static_cast<long double>(sent_ - sampleBytes_) / static_cast<long double>(sampleMs_));
        sampleIndex_ = (sampleIndex_ + 1) % kSampleCount;
        if (sampleCount_ < kSampleCount) sampleCount_++;
        double sum = 0.0;
        for (double sample : samples_) sum += sample;
        const double average = sum / sampleCount_;
        averageSpeed_.store(average, std::memory_order_relaxed);
        sampleMs_ = 0;
        sampleBytes_ = sent_;
        const double chunk = (average / 20.0 + 1.0) * kFirstChunk;
        chunkSize_ = chunk >= kMaxChunk ? kMaxChunk : static_cast<uint32_t>(chunk);
        // The connection's next upload starts from here.
        if (connection_ != nullptr) connection_->setUploadPace(average, chunkSize_);
    }
    if (drainedMs_ < 0 || paused_) return;
    drainedMs_ += elapsedMs;
    // Last: the owner may let go of this upload.
    if (drainedMs_ > drainLimitMs_) end();
}

bool Upload::isPartner() {
    PeerDownloads* downloads = peerDownloads();
    return connection_ && downloads && downloads->isPartner(connection_);
}

int Upload::score() {
    // Computed once: the unset mark lies below every score.
    if (score_.load() > kScoreUnset) return score_.load();
    if (isPartner()) {
        // A partner's slot is never given away, checked hello or not.
        score_.store(kPartnerScore);
        return kPartnerScore;
    }
    int score = 0;
    PeerShares* shares = peerShares();
    if (FileMeta* shared = shares ? shares->sharedFile(hash_) : nullptr) score = shared->getSpecialInt(ST_UPLOAD_PRIORITY);
    if (!helloVerified_ && random_below(kUnverifiedDraw) != 0) score = kUnverifiedScore;
    score_.store(score);
    return score;
}

// ---- the connection ----

bool Upload::abort(TCPConnection* connection) {
    if (connection == nullptr || connection != connection_) return false;
    aborted_ = true;
    SysMutexGuard guard(&lock_);
    connection_ = nullptr;
    return true;
}

OwnedString Upload::peerName() {
    SysMutexGuard guard(&lock_);
    if (!connection_) return OwnedString(static_cast<const char*>(nullptr));
    return OwnedString(peer_.nickname());
}

bool Upload::peerUser(UserMeta& out) {
    SysMutexGuard guard(&lock_);
    if (!connection_) return false;
    out.assign(&peer_);
    return true;
}

bool Upload::isUser(const UserMeta& user) {
    SysMutexGuard guard(&lock_);
    return connection_ && peer_.sameUser(&user);
}

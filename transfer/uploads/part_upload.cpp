#include "transfer/uploads/part_upload.h"

#include "core/meta/file_meta.h"
#include "core/ui/ui_gateway.h"
#include "transfer/peer/peer_sides.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"

PartUpload::PartUpload(std::unique_ptr<PartReader> part, Peer* connection, UploadOwner* owner)
    : Upload(connection, part->name().c_str(), owner, "PartUpload"), part_(std::move(part)) {}

PartUpload::~PartUpload() {
    // The partial file goes first.
    part_.reset();
}

bool PartUpload::canUpload() {
    int state = part_->state();
    return state == PartReader::kStateActive || state == PartReader::kStateCompleted;
}

bool PartUpload::openFinished() {
    // Completion may have renamed the file (a taken name) or kept it
    // elsewhere: the shared record of the hash knows where it went.
    PeerShares* shares = peerShares();
    FileMeta* shared = shares ? shares->sharedFile(fileHash()) : nullptr;
    if (shared == nullptr || shared->path().isEmpty()) return false;
    // Only a regular file is served, and the open never waits.
    i4_file* file = fs_open_regular(shared->path().c_str());
    if (file == nullptr) return false;
    setFile(file);
    switched_ = true;
    return true;
}

const uint8_t* PartUpload::fillBuffer(uint32_t length) {
    if (switched_) return Upload::fillBuffer(length);
    if (const uint8_t* ready = buffered(length)) return ready;
    uint32_t span = readSpan(length);
    uint8_t* buffer = aheadBuffer(span);
    int result = part_->read(buffer, position(), position() + span);
    // Only the packet's own bytes need to be there.
    if (result == PartReader::kUnavailable && span > length) {
        span = length;
        result = part_->read(buffer, position(), position() + span);
    }
    switch (result) {
        case PartReader::kReadDone:
            aheadFilled(span);
            return buffer;
        case PartReader::kFinishing:
            if (UIGateway* ui = currentUI()) ui->print("ERROR: fillBuffer while completing");
            return nullptr;
        case PartReader::kCompleted:
            if (openFinished()) return fillFromFile(length);
            debug_printf("Part done but not found\n");
            return nullptr;
        case PartReader::kFailed:
            debug_printf("Part File error\n");
            return nullptr;
        case PartReader::kUnavailable:
            debug_printf("Part not there\n");
            return nullptr;
        default:
            return nullptr;
    }
}

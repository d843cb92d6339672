#include "transfer/uploads/file_queue.h"

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "transfer/peer/peer_sides.h"
#include "transfer/uploads/upload_hub.h"

namespace {
FileMeta* sharedRecord(const UniqueID& hash) {
    PeerShares* shares = peerShares();
    return shares ? shares->sharedFile(hash) : nullptr;
}
}  // namespace

FileQueue::FileQueue(const UniqueID& hash) : hash_(hash) {
    if (FileMeta* shared = sharedRecord(hash)) priority_ = shared->getSpecialInt(ST_UPLOAD_PRIORITY);
}

void FileQueue::append(std::unique_ptr<UserMeta> user) {
    if (user) users_.push_back(std::move(user));
}

void FileQueue::prepend(std::unique_ptr<UserMeta> user) {
    if (user) users_.push_front(std::move(user));
}

std::unique_ptr<UserMeta> FileQueue::pop() {
    if (users_.empty()) return nullptr;
    std::unique_ptr<UserMeta> first = std::move(users_.front());
    users_.pop_front();
    return first;
}

UserMeta* FileQueue::find(const UserMeta& user, uint32_t* position) {
    uint32_t place = 0;
    for (auto& queued : users_) {
        place++;
        if (!queued->sameUser(&user)) continue;
        if (position) *position = place;
        return queued.get();
    }
    return nullptr;
}

bool FileQueue::serviceable() const {
    UploadHub* hub = uploadHub();
    if (hub && hub->allHashed()) return true;
    return sharedRecord(hash_) != nullptr;
}

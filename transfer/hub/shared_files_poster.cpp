#include "transfer/hub/shared_files_poster.h"

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "transfer/sharing/indexed_file_list.h"

namespace {

void post(int code, void* data) { messageQ->post(code, data); }

}  // namespace

void SharedFilesPoster::addSharedFile(FileMeta* copy) {
    if (!copy) return;
    if (!messageQ) {
        delete copy;
        return;
    }
    post(MSG_ADD_SHARED_FILE, copy);
}

void SharedFilesPoster::removeSharedFile(const FileMeta& record) {
    if (!messageQ) return;
    auto* update = new SharedFileUpdate();
    update->kind = SharedFileUpdate::Kind::kRemove;
    update->hash = record.fileHash();
    post(MSG_SHARED_FILE_UPDATE, update);
}

bool SharedFilesPoster::contains(const UniqueID& hash) { return shared_ && shared_->contains(hash); }

bool SharedFilesPoster::finalPlace(const UniqueID& hash, const char* path, uint32_t modificationTime) {
    if (!messageQ) return false;
    auto* update = new SharedFileUpdate();
    update->kind = SharedFileUpdate::Kind::kFinalPlace;
    update->hash = hash;
    update->path = path;
    update->modificationTime = modificationTime;
    post(MSG_SHARED_FILE_UPDATE, update);
    return true;
}

#include "console/remote/transfer_frames.h"

#include <limits>

#include "console/remote/controller_opcodes.h"
#include "console/remote/handle_table.h"
#include "core/meta/file_list.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/net/tcp_frame.h"
#include "downloads/pool/download.h"
#include "downloads/storage/partial_file.h"
#include "transfer/uploads/upload_slot_interface.h"
#include "v4ada/containers/ll_safe.h"
#include "v4ada/file/file.h"

namespace {

constexpr uint32_t kMostEntries = 0xFFFF;
// What one frame may carry after its opcode.
constexpr uint64_t kPayloadRoom = kMaxFrameLength - 1;

// The bytes a string takes in its encoded form, cut as writeCutString cuts.
uint64_t encodedSize(const char* text) {
    uint64_t length = text ? strlen(text) : 0;
    return 2 + (length > static_cast<uint64_t>(kStringMaxEncoded) ? kStringMaxEncoded : length);
}

}  // namespace

ControllerFrame* newDownloadAddedFrame(Download* download, uint32_t id) {
    auto frame = new ControllerFrame(IGUI_DOWNLOAD_ADDED);
    i4_file* out = frame->out();
    OwnedString path("");
    if (PartialFile* partial = download->partialFile()) {
        partial->withMeta([&](FileMeta& record) {
            record.toNetwork(out);
            path = record.path();
        });
    } else {
        FileMeta record;
        record.setFileHash(download->fileHash());
        record.toNetwork(out);
    }
    int priority = download->priority();
    out->write_8(static_cast<uint8_t>(priority >= Download::kLow && priority <= Download::kHighest ? priority : 0));
    writeCutString(out, path.c_str());
    out->write_32(id);
    return frame;
}

ControllerFrame* newDownloadRemovedFrame(Download* download) {
    auto frame = new ControllerFrame(IGUI_DOWNLOAD_REMOVED, kUniqueIdSize);
    download->fileHash().write(frame->out());
    return frame;
}

ControllerFrame* newDownloadStatusFrame(LLsafe* downloads, HandleTable* handles) {
    auto frame = new ControllerFrame(IGUI_DOWNLOAD_STATUS);
    i4_file* out = frame->out();
    CountField entries(out, 2);
    uint16_t count = 0;
    if (downloads) {
        LLsafeGuard guard(downloads);
        LLNode* cursor = nullptr;
        while (count < kMostEntries) {
            auto download = static_cast<Download*>(LL::walk(downloads, &cursor));
            if (!download) break;
            DownloadStatusEntry entry;
            entry.id = handles->idFor(download);
            entry.status = static_cast<uint8_t>(download->statusCode());
            entry.speed = static_cast<float>(download->speed());
            PartialFile* partial = download->partialFile();
            int64_t done = partial ? partial->bytesDone() : 0;
            entry.bytesDone = done > 0 ? static_cast<uint64_t>(done) : 0;
            entry.availability = download->availability();
            entry.sources = static_cast<uint32_t>(download->sources()->count());
            writeDownloadStatusEntry(out, entry);
            count++;
        }
    }
    entries.set(count);
    return frame;
}

ControllerFrame* newPartMapFrame(Download* download, uint32_t id) {
    DLProgress* progress = download->progress();
    const uint32_t crumbs = progress ? progress->crumbCount() : 0;
    std::vector<int32_t> weights(crumbs);
    for (uint32_t i = 0; i < crumbs; i++) weights[i] = progress->weight(i);
    auto frame = new ControllerFrame(IGUI_PART_MAP);
    writePartMap(frame->out(), id, weights.data(), crumbs, download->size());
    return frame;
}

ControllerFrame* newUploadSlotFrame(UploadSlotInterface* slot, uint32_t id) {
    auto frame = new ControllerFrame(IGUI_UPLOAD_SLOT);
    i4_file* out = frame->out();
    out->write_32(id);
    OwnedString name;
    writeCutString(out, slot->fileName(name));
    UserMeta user;
    if (!slot->user(user)) user = UserMeta();
    user.toNetwork(out);
    UniqueID hash;
    if (!slot->fileHash(hash)) hash = UniqueID();
    hash.write(out);
    return frame;
}

ControllerFrame* newUploadStatusFrame(const std::vector<UploadSlotInterface*>& slots, HandleTable* handles) {
    const size_t count = slots.size() < kMostEntries ? slots.size() : kMostEntries;
    auto frame = new ControllerFrame(IGUI_UPLOAD_STATUS, static_cast<int>(2 + count * kUploadStatusEntrySize));
    i4_file* out = frame->out();
    out->write_16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; i++) {
        out->write_32(handles->idFor(slots[i]));
        out->write_float(static_cast<float>(slots[i]->speed()));
    }
    return frame;
}

ControllerFrame* newSharedDirsFrame(const std::vector<OwnedString>& paths) {
    auto frame = new ControllerFrame(IGUI_SHARED_DIRS);
    i4_file* out = frame->out();
    uint64_t used = 2;
    size_t count = 0;
    while (count < paths.size() && count < kMostEntries) {
        uint64_t size = encodedSize(paths[count].c_str());
        if (used + size > kPayloadRoom) break;
        used += size;
        count++;
    }
    out->write_16(static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; i++) writeCutString(out, paths[i].c_str());
    return frame;
}

ControllerFrame* newSharedFilesFrame(FileList* files) {
    auto frame = new ControllerFrame(IGUI_SHARED_FILES);
    i4_file* out = frame->out();
    CountField records(out, 4);
    uint32_t count = 0;
    if (files) {
        LLsafeGuard guard(files->list());
        uint64_t used = 4;
        LLNode* cursor = nullptr;
        while (auto record = static_cast<FileMeta*>(LL::walk(files->list(), &cursor))) {
            int size = record->wireSize();
            if (size <= 0 || used + static_cast<uint64_t>(size) > kPayloadRoom) break;
            used += static_cast<uint64_t>(size);
            record->toNetwork(out);
            count++;
        }
    }
    records.set(count);
    return frame;
}

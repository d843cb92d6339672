// uploadq.dat as read at start-up: the saved time is set to a recent one
// (the input's first byte gives its age in seconds) so that the entries
// are read, then the loaded queue is served until it is empty, checking
// its counts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/meta/special_tags.h"
#include "transfer/uploads/upload_hub.h"
#include "transfer/uploads/upload_queue.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/time/time_value.h"

namespace {

// No slots: every user waits in a file queue.
class NoSlots : public QueueHost {
public:
    bool slotHasUser(const UserMeta&) override { return false; }
    void addRankNotice(Peer*, uint32_t) override {}
    void slotEntries(std::vector<UploadqEntry>&) override {}
};

// Hashing is done: every queue is served.
class Hashed : public UploadHub {
public:
    void addSent(const UniqueID&, uint64_t) override {}
    bool allHashed() override { return true; }
};

Hashed hub;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    setUploadHub(&hub);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.size() >= 8) {
        uint64_t saved = static_cast<uint64_t>(wall_clock_now().seconds - bytes[0]);
        for (int i = 0; i < 8; i++) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(saved >> (8 * i));
    }
    NoSlots host;
    UploadQueue queue(&host);
    queue.loadBytes(bytes.data(), bytes.size());
    int queued = queue.queuedCount();
    int inQueues = 0;
    for (const auto& fileQueue : queue.fileQueues()) inQueues += fileQueue->count();
    if (queued != inQueues) abort();
    while (std::unique_ptr<UserMeta> user = queue.next(UploadQueue::kEmptySlotScore)) {
        if (!user->valueOf(UploadQueue::kWantedTag)) abort();
        queued--;
    }
    if (queued != 0 || queue.queuedCount() != 0) abort();
    return 0;
}

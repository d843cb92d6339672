#include "transfer/uploads/upload_queue.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "core/meta/meta_tag.h"
#include "core/startup/core_thread.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "transfer/peer/peer.h"
#include "transfer/sharing/file_reports.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/time/time_value.h"

namespace {

constexpr double kMsPerHour = 3600000.0;
constexpr int kBuildGrowStep = 64 * 1024;

void printText(const char* key, const char* text) {
    if (UIGateway* ui = currentUI()) ui->print("%s", uiText(key, text).c_str());
}

}  // namespace

UploadQueue::UploadQueue(QueueHost* host) : host_(host) {}

// ---- places ----

void UploadQueue::queueRequest(Peer* connection, const UniqueID& hash) {
    uint64_t position = enqueue(*connection->user(), hash);
    uint64_t rank = position * static_cast<uint64_t>(fileQueueCount());
    host_->addRankNotice(connection, rank > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(rank));
}

bool UploadQueue::findUser(const UserMeta& user, uint32_t* position) {
    for (auto& queue : fileQueues_) {
        if (queue->find(user, position)) return true;
    }
    bool waiting = host_->slotHasUser(user);
    if (!waiting) {
        for (auto& partner : priorityUsers_) {
            if (!partner->sameUser(&user)) continue;
            waiting = true;
            break;
        }
    }
    if (waiting && position) *position = 0;
    return waiting;
}

FileQueue* UploadQueue::findFileQueue(const UniqueID& hash) {
    for (auto& queue : fileQueues_) {
        if (queue->hash().equals(hash)) return queue.get();
    }
    return nullptr;
}

FileQueue* UploadQueue::fileQueue(const UniqueID& hash) {
    if (FileQueue* queue = findFileQueue(hash)) return queue;
    fileQueues_.push_back(std::make_unique<FileQueue>(hash));
    FileQueue* made = fileQueues_.back().get();
    if (made->priority() > bestPriority_) bestPriority_ = made->priority();
    return made;
}

uint32_t UploadQueue::enqueue(const UserMeta& user, const UniqueID& hash) {
    uint32_t position = 0;
    if (findUser(user, &position)) return position;
    auto copy = std::make_unique<UserMeta>(user);
    queuedCount_++;
    FileQueue* queue = fileQueue(hash);
    queue->append(std::move(copy));
    return static_cast<uint32_t>(queue->count());
}

void UploadQueue::requeueFront(const UserMeta& user, const UniqueID& hash) {
    if (findUser(user, nullptr)) return;
    fileQueue(hash)->prepend(std::make_unique<UserMeta>(user));
    queuedCount_++;
}

void UploadQueue::setFilePriority(const UniqueID& hash, int priority) {
    if (FileQueue* queue = findFileQueue(hash)) queue->setPriority(priority);
}

void UploadQueue::addPriorityUser(Peer* connection) {
    const UserMeta* user = connection->user();
    for (auto& partner : priorityUsers_) {
        if (partner->sameUser(user)) return;
    }
    priorityUsers_.push_back(std::make_unique<UserMeta>(*user));
}

void UploadQueue::removePriorityUser(const UserMeta& user) {
    for (auto at = priorityUsers_.begin(); at != priorityUsers_.end(); ++at) {
        if (!(*at)->sameUser(&user)) continue;
        priorityUsers_.erase(at);
        return;
    }
}

// ---- serving ----

std::list<std::unique_ptr<FileQueue>>::iterator UploadQueue::bestQueue() {
    auto best = fileQueues_.end();
    for (auto at = fileQueues_.begin(); at != fileQueues_.end(); ++at) {
        if (!(*at)->serviceable()) continue;
        if (best == fileQueues_.end() || (*at)->priority() > (*best)->priority()) best = at;
    }
    return best;
}

std::unique_ptr<UserMeta> UploadQueue::next(int slotScore) {
    if (slotScore < kPartnerBelow && !priorityUsers_.empty()) {
        std::unique_ptr<UserMeta> partner = std::move(priorityUsers_.front());
        priorityUsers_.pop_front();
        return partner;
    }
    // Each round either serves a user or deletes an empty queue.
    while (slotScore < bestPriority_) {
        bestPriority_ = kLowestPriority;
        auto chosen = bestQueue();
        if (chosen == fileQueues_.end()) return nullptr;
        bestPriority_ = (*chosen)->priority();
        if (!(slotScore < bestPriority_)) return nullptr;
        std::unique_ptr<UserMeta> user = (*chosen)->pop();
        if (!user) {
            fileQueues_.erase(chosen);
            continue;
        }
        // Queues of equal priority take turns.
        fileQueues_.splice(fileQueues_.end(), fileQueues_, chosen);
        FileQueue* served = fileQueues_.back().get();
        user->set(kWantedTag, served->hash().bytes(), kTagHash);
        queuedCount_--;
        servedCount_++;
        return user;
    }
    return nullptr;
}

// ---- uploadq.dat ----

int UploadQueue::savedCap(int served, double hours) {
    if (hours == 0.0) hours = 1.0;
    const uint32_t product = static_cast<uint32_t>(served) * kSavedPerServed;
    const double cap = static_cast<double>(product) / hours;
    if (cap >= static_cast<double>(INT_MAX)) return INT_MAX;
    return std::max(kMinSaved, static_cast<int>(cap));
}

std::vector<uint8_t> UploadQueue::build() {
    double hours = 1.0;
    if (CoreThread* core = coreThread()) {
        TimeValue now;
        hours = TimeValue::msBetween(now, core->startTime()) / kMsPerHour;
    }
    int cap = savedCap(servedCount_, hours);
    std::vector<UploadqEntry> slots;
    host_->slotEntries(slots);

    i4_ram_file_class out(nullptr, 0, kBuildGrowStep);
    writeUploadqHeader(&out, wall_clock_now().seconds, static_cast<uint32_t>(fileQueues_.size() + 1));
    int n = std::min(static_cast<int>(slots.size()), cap);
    cap -= n;
    writeUploadqCount(&out, static_cast<uint32_t>(n));
    for (int i = 0; i < n; i++) writeUploadqEntry(&out, slots[static_cast<size_t>(i)].hash, slots[static_cast<size_t>(i)].user);
    for (auto& queue : fileQueues_) {
        n = std::min(queue->count(), cap);
        cap -= n;
        writeUploadqCount(&out, static_cast<uint32_t>(n));
        for (int i = 0; i < n; i++) writeUploadqEntry(&out, queue->hash(), queue->at(i));
    }
    std::vector<uint8_t> bytes(out.data(), out.data() + out.size());
    i4_free(out.data());
    return bytes;
}

void UploadQueue::save(const char* path, bool now) {
    std::vector<uint8_t> bytes = build();
    if (now)
        saver_.saveNow(path, std::move(bytes));
    else
        saver_.saveLater(path, std::move(bytes));
}

void UploadQueue::load(const char* path) {
    std::vector<uint8_t> bytes;
    bool readable = false;
    {
        i4_safe_file in(path, kFsRead);
        if (i4_file* file = in.file()) {
            i4_pos size = file->size();
            if (size <= static_cast<i4_pos>(kUploadqMaxFile)) {
                bytes.resize(static_cast<size_t>(size));
                readable = size == 0 || file->read(bytes.data(), static_cast<int>(size)) == static_cast<int>(size);
            }
            in.close();
        }
    }
    if (!readable) {
        // None yet (a first start) is no fault; one that exists but cannot
        // be read is reported and kept from the next save.
        struct stat record;
        if (!path || (fs_stat_raw(path, &record) != 0 && errno == ENOENT)) return;
        printText(kQueueNotLoadedKey, kQueueNotLoadedText);
        keepAsideUnreadable(path);
        return;
    }
    switch (loadBytes(bytes.data(), bytes.size())) {
        case Loaded::kWhole:
            break;
        case Loaded::kOld:
            printText(kQueueOldKey, kQueueOldText);
            break;
        case Loaded::kDamaged:
            printText(kQueueNotLoadedKey, kQueueNotLoadedText);
            keepAsideUnreadable(path);
            break;
    }
}

UploadQueue::Loaded UploadQueue::loadBytes(const uint8_t* bytes, size_t size) {
    i4_ram_file_class in(const_cast<uint8_t*>(bytes), static_cast<i4_pos>(size), 0);
    UploadqReader reader(&in);
    if (reader.readHeader()) {
        int64_t age = wall_clock_now().seconds - reader.saved();
        if (age < 0 || age > kMaxAgeSeconds) return Loaded::kOld;
        UploadqEntry entry;
        while (reader.next(entry)) {
            // An empty slot's entry names nobody.
            if (!isEmptyUploadqEntry(entry)) enqueue(entry.user, entry.hash);
        }
    }
    return reader.damaged() ? Loaded::kDamaged : Loaded::kWhole;
}

#include "support/download_world.h"

#include <filesystem>

#include "core/bus/message_q.h"
#include "downloads/pool/complete_file_thread.h"
#include "downloads/sources/source_list.h"
#include "downloads/storage/download_services.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "v4ada/threads/linux/threads.h"

namespace support {

void DownloadsUI::downloadAdded(Download* download) {
    OwnedString name = download->name();
    log->add(std::string("added ") + (name.isNull() ? "" : name.c_str()));
}

void DownloadsUI::downloadRemoved(Download* download) {
    OwnedString name = download->name();
    log->add(std::string("removed ") + (name.isNull() ? "" : name.c_str()));
}

LLsafe* DownloadsUI::downloadList() { return DLPool::instance() ? DLPool::instance()->downloadList() : nullptr; }

DownloadWorld::DownloadWorld(int storageThreads) {
    temp = dir / "temp";
    incoming = dir / "incoming";
    std::filesystem::create_directories(temp);
    std::filesystem::create_directories(incoming);
    settings.set(temp, incoming);
    worker = std::make_unique<StorageWorker>(storageThreads);
    DownloadServices& services = downloadServices();
    services.settings = &settings;
    services.sharedFiles = &shared;
    services.uploads = &uploads;
    services.storage = worker.get();
    services.tempNames = &names;
    peers.add(&peer);
    setSourcePeerPool(&peers);
    previousUI_ = setCurrentTransferUI(&transferUI);
    for (int code = 0; code < kMessageCodeCount; code++) messageQ->setHandler(this, code);
    PartnerManager::createInstance();
    SourceList::createInstance();
    DLPool::createInstance();
    pool = DLPool::instance();
    partners = PartnerManager::instance();
}

DownloadWorld::~DownloadWorld() {
    // Completion workers hold references and report on the bus.
    while (CompleteFileThread::running() > 0) thread_yield();
    for (Download* download : held_) download->release();
    held_.clear();
    DLPool::destroyInstance();
    SourceList::destroyInstance();
    PartnerManager::destroyInstance();
    setCurrentTransferUI(previousUI_);
    setSourcePeerPool(nullptr);
    worker.reset();
    resetDownloadServices();
}

void DownloadWorld::handle(Message* message) {
    codes_.push_back(message->code);
    if (!route) return;
    auto* download = static_cast<Download*>(message->data);
    switch (message->code) {
        case MSG_START_DOWNLOAD: {
            auto* record = static_cast<FileMeta*>(message->data);
            pool->startDownload(record);
            delete record;
            break;
        }
        case MSG_END_DOWNLOAD: pool->endDownload(download); break;
        // Codes 12 to 14 carry a reference of the poster's.
        case MSG_PAUSE_DOWNLOAD:
            pool->pauseDownload(download);
            pool->releaseDownload(download);
            break;
        case MSG_RESUME_DOWNLOAD:
            pool->resumeDownload(download);
            pool->releaseDownload(download);
            break;
        case MSG_CANCEL_DOWNLOAD:
            pool->cancelDownload(download);
            pool->releaseDownload(download);
            break;
        case MSG_CHECK_DISK_SPACE: pool->checkDiskSpace(); break;
        case MSG_OPEN_SLOT: pool->openSlot(static_cast<TCPConnection*>(message->data)); break;
        case MSG_RESCHEDULE: pool->reschedule(); break;
        default: break;
    }
}

void DownloadWorld::pumpBus() {
    while (messageQ->tick(0)) {
    }
}

std::vector<int> DownloadWorld::takeCodes() {
    std::vector<int> out;
    out.swap(codes_);
    return out;
}

bool DownloadWorld::step(int elapsedMs) {
    if (worker->threadCount() == 0) worker->runPending();
    bool work = pool->tick(elapsedMs);
    pumpBus();
    return work;
}

std::unique_ptr<FileMeta> DownloadWorld::record(const Bytes& data, const char* name, bool withHashSets) const {
    return record_of(data, name, withHashSets);
}

Download* DownloadWorld::start(const Bytes& data, const char* name, bool withHashSets) {
    std::unique_ptr<FileMeta> meta = record(data, name, withHashSets);
    pool->startDownload(meta.get());
    Download* download = pool->findDownload(meta->fileHash());
    if (download) held_.push_back(download);
    return download;
}

FakeFileSource* DownloadWorld::feeder(Download* download) {
    auto* source = new FakeFileSource(&log, "feeder", download, &peer);
    source->request(0, 0, download->size());
    download->lock();
    download->sources()->append(source);
    download->unlock();
    return source;
}

bool DownloadWorld::message(Download* download, uint32_t start, uint32_t end, const Bytes& payload) {
    ByteReader reader(cat({le32(start), le32(end), payload}));
    return download->dataReceived(reader.file(), static_cast<SourcePeer*>(&peer));
}

bool DownloadWorld::feed(Download* download, const Bytes& data, uint64_t start, uint64_t end, uint64_t piece) {
    for (uint64_t at = start; at < end; at += piece) {
        uint64_t stop = std::min(end, at + piece);
        Bytes payload(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(stop));
        if (!message(download, static_cast<uint32_t>(at), static_cast<uint32_t>(stop), payload)) return false;
    }
    return true;
}

void DownloadWorld::settle() {
    for (int round = 0; round < 1000; round++) {
        int ran = worker->threadCount() == 0 ? worker->runPending() : 0;
        if (worker->threadCount() > 0) worker->waitIdle();
        bool work = step(0);
        if (ran == 0 && !work) return;
    }
}

void DownloadWorld::completions() {
    while (CompleteFileThread::running() > 0) thread_yield();
    pumpBus();
}

void DownloadWorld::drop(Download* download) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (*it != download) continue;
        held_.erase(it);
        download->release();
        return;
    }
}

void DownloadWorld::hold(Download* download) {
    download->addRef();
    held_.push_back(download);
}

}  // namespace support

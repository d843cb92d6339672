// DownloadWorld: the whole download side of one test, installed while it
// lives: scratch temporary and incoming directories, the options, the
// storage services (recording fakes, a real storage worker and temporary
// names), the download pool, the partner table and the asked-source list,
// a connection-face pool with one peer, source factories and an overlay
// gateway that make recording fakes, a transfer UI and an output capture.
// The world stands in for the transfer hub: it routes the download bus
// codes to the pool and keeps every code handled.
//
//   support::DownloadWorld world;
//   Download* d = world.start(data, "a.bin");  // the world keeps a reference
//   FakeFileSource* s = world.feeder(d);          // requests the whole file
//   world.feed(d, data, 0, data.size());          // data messages from the peer
//   world.completions();                          // completion workers ended
//   world.step(0);                                // the bus delivers the end
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/bus/message.h"
#include "core/meta/file_meta.h"
#include "core/ui/transfer_ui.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "support/bytes.h"
#include "support/download_fakes.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

namespace support {

// Logs "added <name>" and "removed <name>".
class DownloadsUI final : public TransferUI {
public:
    explicit DownloadsUI(SharedLog* log) : log(log) {}
    void downloadAdded(Download* download) override;
    void downloadRemoved(Download* download) override;
    LLsafe* downloadList() override;
    SharedLog* log;
};

class DownloadWorld : public MessageHandler {
public:
    static constexpr uint32_t kPeerIp = 0x04030201;  // 1.2.3.4
    static constexpr uint16_t kPeerPort = 4662;

    // storageThreads 0: checks and saves run when the world steps.
    explicit DownloadWorld(int storageThreads = 0);
    ~DownloadWorld();

    // The transfer hub's routing of the download codes (while route is
    // set); every code is kept for takeCodes.
    void handle(Message* message) override;

    // One task-thread step: queued storage jobs run, the pool ticks
    // elapsedMs, then the bus is emptied. Returns the pool's answer.
    bool step(int elapsedMs);
    // Handles every queued bus message.
    void pumpBus();
    // The codes handled since the last call.
    std::vector<int> takeCodes();

    // A record of the data with its real hashes (and hash sets).
    std::unique_ptr<FileMeta> record(const Bytes& data, const char* name, bool withHashSets = true) const;
    // startDownload of such a record, then the download (a reference the
    // world holds until it goes), or null.
    Download* start(const Bytes& data, const char* name, bool withHashSets = true);
    // A fake source of the download on the world's peer whose one request
    // covers the whole file.
    FakeFileSource* feeder(Download* download);
    // A data message from the peer for [start, end) of the data, in pieces
    // of at most piece bytes. False when a message was refused.
    bool feed(Download* download, const Bytes& data, uint64_t start, uint64_t end, uint64_t piece = 65536);
    // A data message with the given header and payload.
    bool message(Download* download, uint32_t start, uint32_t end, const Bytes& payload);
    // Storage jobs run and results are applied, the pool ticking 0 ms,
    // until nothing more happens.
    void settle();
    // Returns once every completion worker has ended (storage without
    // threads only), then empties the bus.
    void completions();
    // The reference taken by start (or by holding) is released early.
    void drop(Download* download);
    // Keeps a reference until the world goes.
    void hold(Download* download);

    // The special tags, the bus and the options, made before anything
    // below and destroyed last.
    ProcessObjects process{ProcessObjects::kSpecialTags | ProcessObjects::kBus | ProcessObjects::kCoreOptions};
    TempDir dir;
    std::string temp;
    std::string incoming;
    CaptureUI ui;
    SharedLog log;
    FakeDownloadSettings settings;
    FakeSharedFiles shared{&log};
    FakeUploadSide uploads{&log};
    std::unique_ptr<StorageWorker> worker;
    TempNameAllocator names;
    FakeSourcePeerPool peers{&log};
    FakeSourceFactories factories{&log};
    SourcesGateway gateway{&log};
    DownloadsUI transferUI{&log};
    FakeSourcePeer peer{&log, "peer", kPeerIp, kPeerPort};
    // The partners, the asked sources and the download pool, made last and
    // destroyed first.
    std::optional<ProcessObjects> downloadObjects;
    DLPool* pool = nullptr;
    PartnerManager* partners = nullptr;
    // False: bus messages are only kept, not handled.
    bool route = true;

private:
    std::vector<int> codes_;
    std::vector<Download*> held_;
    TransferUI* previousUI_ = nullptr;
};

}  // namespace support

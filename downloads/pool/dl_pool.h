// DLPool: the download pool. It owns every Download in a locked list,
// ticks them on the task thread, picks the Highest download, opens and
// closes the bandwidth gate that lets downloads ask sources, watches the
// free disk space, saves every download's record every five minutes,
// resumes the downloads found in the temporary directory, and hands the
// peer connections' events and messages to the downloads.
//
// Start-up makes the one pool (createInstance), registers it as a task of
// the task thread and as a peer-event handler of the peer pool, and
// installs it as the peer protocol's downloads side (setPeerDownloads) and
// the overlay's source sink (setDownloadSourceSink); the transfer hub
// routes the download bus codes to it. Shutdown calls shutdown, then
// destroyInstance.
//
// Threads: every operation runs on the task thread; the completion and
// hashing threads reach the pool only through the bus. Every walk of the
// list holds its mutex; a download's lock is taken inside (list, then
// download), never the other way round. Nothing a download does under the
// pool's tick or fan-out calls back into the pool's list (findDownload,
// the fan-outs, reschedule).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/net/peer_event_handler.h"
#include "core/task/time_slice_task.h"
#include "downloads/transfer_downloads.h"
#include "downloads/pool/download.h"
#include "overlay/index/download_source_sink.h"
#include "v4ada/containers/ll.h"
#include "v4ada/containers/ll_safe.h"

class FileMeta;
class SourcePeer;

class DLPool : public TimeSliceTask,
               public PeerEventHandler,
               public TransferDownloads,
               public DownloadSourceSink,
               public LLSortFuntor {
public:
    // The gate lets at most one connection attempt start per 500 ms.
    static constexpr int kGateMs = 500;
    static constexpr int kDiskCheckMs = 60000;
    static constexpr int kSaveMs = 300000;
    static constexpr double kGateMinMargin = 0.5;

    DLPool() = default;
    // Releases every download still listed (shutdown does it in order).
    ~DLPool() override;
    DLPool(const DLPool&) = delete;
    DLPool& operator=(const DLPool&) = delete;

    // The process-wide pool, or null.
    static DLPool* instance();
    // Keeps an existing pool.
    static void createInstance();
    static void destroyInstance();

    // Gate, disk check, every download's tick, rates, periodic save. True
    // while any download received data or applied results.
    bool tick(int elapsedMs) override;

    // MSG_START_DOWNLOAD: a new download of the record's file (the record
    // stays the caller's).
    void startDownload(FileMeta* record) override;
    // A download resumed from a record (loadPartials).
    void startOldDownload(FileMeta* record, uint32_t number);
    // MSG_END_DOWNLOAD: the download leaves the pool and is released.
    // Nothing for a download that is not listed.
    void endDownload(Download* download) override;
    // Every download is told whether the temporary and incoming file
    // systems have more free space than the reserve.
    void checkDiskSpace() override;
    // Every download record found in the directory (the temporary
    // directory) and its subdirectories is resumed.
    void loadPartials(const char* directory) override;
    // MSG_ADD_SOURCE_LINK.
    void addSourceLink(const UniqueID& hash, const char* link) override;
    // Sorts by priority and picks the Highest download.
    void reschedule() override;
    void setPriority(Download* download, int priority);
    // At program end: every download saves its record and is released.
    void shutdown() override;
    // The share list was rebuilt: shared partial files are added again.
    void reshareAll() override;
    // TransferDownloads: the download bus codes the transfer hub routes
    // here; the poster's reference of codes 12 to 14 goes with
    // releaseDownload.
    void pauseDownload(Download* download) override { download->pause(); }
    void resumeDownload(Download* download) override { download->resume(); }
    void cancelDownload(Download* download) override { download->cancel(); }
    void releaseDownload(Download* download) override { download->release(); }
    // The upload priority on the record of the download of that hash.
    void setFilePriority(const UniqueID& hash, int priority) override;
    PeerEventHandler* peerEventHandler() override { return this; }
    TimeSliceTask* task() override { return this; }
    int downloadCount();
    // The list of Download*; walk it between lock and unlock.
    LLsafe* downloadList() { return &downloads_; }

    // PeerDownloads: the peer protocol's way in.
    Download* findDownload(const UniqueID& hash) override;
    void openSlot(TCPConnection* connection) override;
    void uploadEnded(TCPConnection* connection) override;
    void placeInQueue(TCPConnection* connection, uint32_t rank) override;
    void addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) override;
    bool acceptPartner(TCPConnection* connection, const UniqueID& hash) override;
    bool hasDownloads() override { return downloadCount() > 0; }
    // The partner table, as the uploads ask it.
    bool isPartner(TCPConnection* connection) override;
    void partnerClosed(TCPConnection* connection) override;

    // PeerEventHandler.
    void peerClosed(TCPConnection* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;
    void newPeer(TCPConnection* connection) override;

    // DownloadSourceSink (and MSG_ADD_SOURCE): no connection.
    void addSource(const UniqueID& hash, UserMeta* user) override;
    // The same with a connection face, or null.
    void addPeerSource(const UniqueID& hash, UserMeta* user, SourcePeer* connection);

    // LLSortFuntor: higher priority first.
    bool compare(void* a, void* b) override;

    // The gate: closed for 500 ms before each connection attempt.
    void holdGate();
    bool gateOpen() const { return gateOpen_; }
    // Sources receiving data now (raised and lowered by the transferring
    // source states).
    void changeTransferring(int delta) { transferring_ += delta; }
    int transferring() const { return transferring_; }

    // Sum of the downloads' speeds at the last tick, and the largest seen
    // (bytes per ms). Any thread.
    double currentRate() const { return currentRate_.load(std::memory_order_relaxed); }
    double peakRate() const { return peakRate_.load(std::memory_order_relaxed); }

    // Test access.
    int saveCountdown() const { return saveCountdown_; }
    int diskCountdown() const { return diskCountdown_; }

private:
    void updateGate();
    void saveAll();
    // A record file of the temporary directory (first pass) or of a
    // download's directory (second pass).
    void loadRecord(const char* directory, const char* name, bool inSubdirectory);
    static SourcePeer* peerOf(TCPConnection* connection);

    LLsafe downloads_;
    int saveCountdown_ = kSaveMs;
    int diskCountdown_ = 0;
    int gateCounter_ = kGateMs;
    bool gateOpen_ = true;
    int transferring_ = 0;
    std::atomic<double> currentRate_{0.0};
    std::atomic<double> peakRate_{0.0};
};

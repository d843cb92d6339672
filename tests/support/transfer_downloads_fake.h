// FakeTransferDownloads: the downloads side as the transfer hub drives it,
// recording every call as one line of text ("pause 0x..." carries the
// download's token), over support::FakeDownloads for the peer protocol's
// part. Download objects are tokens: any distinct address, never followed.
//
//   support::CallLog log;
//   support::FakeTransferDownloads downloads(&log);  // installed while it lives
//   support::DownloadToken d;  // a Download* for the bus codes
//   messageQ->post(MSG_PAUSE_DOWNLOAD, d.get());
#pragma once

#include <functional>
#include <string>

#include "downloads/transfer_downloads.h"
#include "support/peer_fakes.h"

class Download;
class TransferGateway;

namespace support {

// A distinct Download* that is never followed.
class DownloadToken {
public:
    Download* get() { return reinterpret_cast<Download*>(&byte_); }

private:
    char byte_ = 0;
};

class FakeTransferDownloads final : public TransferDownloads {
public:
    // Installed as both downloads sides while it lives.
    explicit FakeTransferDownloads(CallLog* log);
    ~FakeTransferDownloads();

    void startDownload(FileMeta* record) override;
    void endDownload(Download* download) override;
    void pauseDownload(Download* download) override;
    void resumeDownload(Download* download) override;
    void cancelDownload(Download* download) override;
    void releaseDownload(Download* download) override;
    void reshareAll() override;
    void loadPartials(const char* tempDir) override;
    void checkDiskSpace() override;
    void addSourceLink(const UniqueID& hash, const char* link) override;
    void reschedule() override;
    void setFilePriority(const UniqueID& hash, int priority) override;
    PeerEventHandler* peerEventHandler() override { return &events; }
    TimeSliceTask* task() override { return nullptr; }
    void shutdown() override;

    PeerDownload* findDownload(const UniqueID& hash) override { return peer.findDownload(hash); }
    void openSlot(TCPConnection* connection) override;
    void uploadEnded(TCPConnection* connection) override { peer.uploadEnded(connection); }
    void placeInQueue(TCPConnection* connection, uint32_t rank) override { peer.placeInQueue(connection, rank); }
    void addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) override;
    bool acceptPartner(TCPConnection* connection, const UniqueID& hash) override {
        return peer.acceptPartner(connection, hash);
    }
    bool hasDownloads() override { return peer.hasDownloads(); }

    CallLog* log;
    FakeDownloads peer;
    RecordingHandler events{log, "downloads"};
    // Records shared again by reshareAll: copies go to the hub's
    // addSharedFile, as partial downloads do.
    std::vector<FileMeta*> reshare;
    TransferGateway* hub = nullptr;
    // Runs inside loadPartials (as loaded downloads queue for checks).
    std::function<void()> onLoadPartials;

private:
    std::string token(Download* download);
};

}  // namespace support

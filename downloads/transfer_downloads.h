// The downloads as the transfer hub drives them: the download pool
// implements this beside the peer protocol's face (PeerDownloads), and
// start-up installs it. The hub hands it the bus codes of downloads, the
// shares' refresh and the loading of partial downloads; while none is
// installed those codes only free their data.
//
// Download objects pass through the hub untouched: the bus codes carry
// them from the poster to the pool. Everything runs on the task thread.
#pragma once

#include "downloads/peer_downloads.h"

class Download;
class FileMeta;
class PeerEventHandler;
class TimeSliceTask;

class TransferDownloads : public PeerDownloads {
public:
    // MSG_START_DOWNLOAD: a new download of the record (copied; the caller
    // keeps it).
    virtual void startDownload(FileMeta* record) = 0;
    // MSG_END_DOWNLOAD.
    virtual void endDownload(Download* download) = 0;
    // MSG_PAUSE_DOWNLOAD, MSG_RESUME_DOWNLOAD, MSG_CANCEL_DOWNLOAD.
    virtual void pauseDownload(Download* download) = 0;
    virtual void resumeDownload(Download* download) = 0;
    virtual void cancelDownload(Download* download) = 0;
    // Drops the reference a poster of codes 12 to 14 took.
    virtual void releaseDownload(Download* download) = 0;
    // Each partial download that was shared shares a copy of its record
    // again (the shares were just emptied).
    virtual void reshareAll() = 0;
    // Loads the partial downloads found in the directory.
    virtual void loadPartials(const char* tempDir) = 0;
    // MSG_CHECK_DISK_SPACE.
    virtual void checkDiskSpace() = 0;
    // MSG_ADD_SOURCE_LINK: the first source protocol that takes the text
    // makes a source of the download of that hash (nothing without one).
    virtual void addSourceLink(const UniqueID& hash, const char* link) = 0;
    // MSG_RESCHEDULE.
    virtual void reschedule() = 0;
    // Sets the upload priority (special tag 19) on the record of the
    // download of that hash; nothing without one.
    virtual void setFilePriority(const UniqueID& hash, int priority) = 0;
    // The pool's peer-event part and its task, wired by the hub's init.
    virtual PeerEventHandler* peerEventHandler() = 0;
    virtual TimeSliceTask* task() = 0;
    // At shutdown, after the task thread has stopped.
    virtual void shutdown() = 0;

protected:
    ~TransferDownloads() = default;
};

// The installed downloads side, or null. Any thread.
TransferDownloads* transferDownloads();
// Returns the previous one; null uninstalls. Not owned.
TransferDownloads* setTransferDownloads(TransferDownloads* downloads);

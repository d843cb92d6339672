// The download states that do not fetch data: queued, paused, disk full,
// done (cancelled, completing, complete, corrupted, error hashing), hashing
// a resumed download (running or paused) and error loading. The fetching
// states are in downloading_state.h.
//
// Each overrides only what its row of the state table lists; the
// constructors of every state here except DLS_Queued set the download's
// speed to 0.
#pragma once

#include "downloads/pool/download_state.h"

// Code 1. Starts fetching once the download pool's gate is open.
class DLS_Queued : public DownloadState {
public:
    explicit DLS_Queued(Download* download) : DownloadState(download, kDlsQueued) {}
    void tick(int elapsedMs) override;
    void pause() override;
    void diskFull() override;
};

// Code 4. The only state saved as paused, with DLS_PausedHashing.
class DLS_Paused : public DownloadState {
public:
    explicit DLS_Paused(Download* download);
    bool isPaused() override { return true; }
    // Queued again, then a disk-space check.
    void resume() override;
    bool becomeHighest() override { return false; }
};

// Code 5. Nothing is fetched until a disk check finds room again.
class DLS_DiskFull : public DownloadState {
public:
    explicit DLS_DiskFull(Download* download);
    void pause() override;
    void diskOk() override;
    bool becomeHighest() override { return false; }
};

// Codes 7 (cancelled), 10 (completing), 11 (complete), 12 (corrupted) and
// 13 (error hashing). Cancelling does nothing.
class DLS_Done : public DownloadState {
public:
    DLS_Done(Download* download, int code);
    void cancel() override {}
    bool becomeHighest() override { return false; }
};

// Code 8: the data of a resumed download is being verified again.
// Cancelling is refused until that is over.
class DLS_Hashing : public DownloadState {
public:
    explicit DLS_Hashing(Download* download);
    void cancel() override;
    // Unreadable data: DLS_Done 13 and the end of the download (files
    // kept). Anything missing: queued, then a disk check. Else complete.
    void hashDone(bool verified) override;
    bool becomeHighest() override { return false; }
};

// Code 8, for a download saved as paused: verified, it is paused again.
// It is saved as paused meanwhile.
class DLS_PausedHashing : public DownloadState {
public:
    explicit DLS_PausedHashing(Download* download);
    bool isPaused() override { return true; }
    void cancel() override;
    void hashDone(bool verified) override;
    bool becomeHighest() override { return false; }
};

// Code 9: the record did not load; the download can only be cancelled.
class DLS_ErrorLoading : public DownloadState {
public:
    explicit DLS_ErrorLoading(Download* download);
    bool becomeHighest() override { return false; }
};

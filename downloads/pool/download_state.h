// DownloadState: what a download does on each event. Every Download hands
// its events to one state object; a transition builds the next state and
// installs it with Download::setState, which deletes the running one, so a
// state operation touches nothing of itself after installing a successor.
//
// The state's code is the download's status shown to the user (the
// string-table entry of the same number).
//
// Every operation runs under the owning download's lock, taken by the
// Download operation that forwards the event; a state never takes it.
#pragma once

#include <cstdint>

class Download;
class SourcePeer;
class i4_file;

// Status codes of a download (DownloadStatus).
enum DownloadStatusCode : int {
    kDlsQueued = 1,
    kDlsLooking = 2,  // downloading, also the Highest download
    kDlsPaused = 4,
    kDlsDiskFull = 5,
    kDlsDone = 7,  // cancelled
    kDlsHashing = 8,
    kDlsErrorLoading = 9,
    kDlsCompleting = 10,
    kDlsComplete = 11,
    kDlsCorrupted = 12,
    kDlsErrorHashing = 13,  // the loaded data could not be read again
};

class DownloadState {
public:
    DownloadState(Download* download, int code) : download_(download), code_(code) {}
    virtual ~DownloadState() = default;
    DownloadState(const DownloadState&) = delete;
    DownloadState& operator=(const DownloadState&) = delete;

    int code() const { return code_; }

    virtual bool isPaused() { return false; }
    virtual void tick(int elapsedMs) { (void)elapsedMs; }
    virtual void pause() {}
    virtual void resume() {}
    // Removes the partial file's data and record, ends the download
    // (MSG_END_DOWNLOAD) and becomes DLS_Done 7.
    virtual void cancel();
    virtual void diskFull() {}
    virtual void diskOk() {}
    // The re-verification of loaded data ended; verified is false when the
    // data could not be read at all.
    virtual void hashDone(bool verified) { (void)verified; }
    // A data message for [start, end) whose bytes the reader holds next.
    virtual void dataReceived(i4_file* reader, SourcePeer* connection, uint64_t start, uint64_t end) {
        (void)reader, (void)connection, (void)start, (void)end;
    }
    virtual bool openSlot(SourcePeer* connection) { (void)connection; return false; }
    virtual void fileNameAnswer(const char* name, SourcePeer* connection) { (void)name, (void)connection; }
    // Becomes DLS_Highest: true.
    virtual bool becomeHighest();
    virtual void partnerAccepted(SourcePeer* connection) { (void)connection; }
    virtual void partnerRefused(SourcePeer* connection) { (void)connection; }
    virtual void connectFailed(uint32_t ip, uint16_t port) { (void)ip, (void)port; }

protected:
    Download* download_;
    int code_;
};

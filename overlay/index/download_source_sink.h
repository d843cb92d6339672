// DownloadSourceSink: where the overlay hands the sources it finds for a
// file hash (from the location links of its source searches). The download
// pool implements it and start-up installs it; with none installed, found
// sources are dropped.
//
// Task thread only.
#pragma once

class UniqueID;
class UserMeta;

class DownloadSourceSink {
public:
    // The user becomes a source of the download of that file hash (nothing
    // when there is none). The record lives only during the call.
    virtual void addSource(const UniqueID& fileHash, UserMeta* user) = 0;

protected:
    ~DownloadSourceSink() = default;
};

// The installed sink, or null. Any thread.
DownloadSourceSink* downloadSourceSink();
// Returns the previous one; null uninstalls. Not owned.
DownloadSourceSink* setDownloadSourceSink(DownloadSourceSink* sink);

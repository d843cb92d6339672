// DownloadSources: one download's search for sources of its file in the
// overlay. The overlay gateway makes it (NetworkGateway::newDownloadSources)
// and the download owns, ticks and deletes it. The download asks for a
// search whenever it has no source left to ask; the search itself decides
// how often one really goes out.
//
// Task thread only.
#pragma once

#include <cstdint>

class UniqueID;

class DownloadSources {
public:
    virtual ~DownloadSources() = default;
    // Looks for sources of the file hash (or does nothing, when a search
    // went out too recently).
    virtual void search(const UniqueID& fileHash) = 0;
    // Elapsed milliseconds of the task thread.
    virtual void tick(int elapsedMs) { (void)elapsedMs; }
    // The next search request goes out.
    virtual void reset() {}
};

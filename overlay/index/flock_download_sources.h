// FlockDownloadSources: one download's search for sources in the overlay:
// a search of the location services under the file hash (two nodes, the
// gateway's sources dispatcher as callback), at most one every 20 minutes
// of task-thread time; the first request searches at once. Nothing goes
// out while the firewall test has no verdict. The download owns, ticks
// and deletes it; it must not outlive the gateway.
#pragma once

#include <cstdint>

#include "overlay/index/download_sources.h"

class FlockGateway;

constexpr int kSourceSearchEveryMs = 1200000;

class FlockDownloadSources : public DownloadSources {
public:
    explicit FlockDownloadSources(FlockGateway& gateway) : gateway_(gateway) {}

    void search(const UniqueID& fileHash) override;
    // The timer runs up to 20 minutes.
    void tick(int elapsedMs) override;
    // The next request searches.
    void reset() override { timer_ = kSourceSearchEveryMs; }

    int32_t timer() const { return timer_; }

private:
    FlockGateway& gateway_;
    int32_t timer_ = kSourceSearchEveryMs;
};

#include "overlay/index/flock_download_sources.h"

#include <algorithm>

#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service_search.h"

void FlockDownloadSources::search(const UniqueID& fileHash) {
    if (gateway_.firewallStatus() == NetworkGateway::kUnknown || timer_ < kSourceSearchEveryMs) return;
    if (!gateway_.running()) return;
    timer_ = 0;
    gateway_.startSearch(new ServiceSearch(fileHash), &gateway_.sourcesDispatcher());
}

void FlockDownloadSources::tick(int elapsedMs) {
    int64_t next = static_cast<int64_t>(timer_) + std::max(elapsedMs, 0);
    timer_ = static_cast<int32_t>(std::min<int64_t>(next, kSourceSearchEveryMs));
}

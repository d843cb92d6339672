#include "overlay/index/download_source_sink.h"

#include <atomic>

namespace {
std::atomic<DownloadSourceSink*> gSink{nullptr};
}  // namespace

DownloadSourceSink* downloadSourceSink() { return gSink.load(); }

DownloadSourceSink* setDownloadSourceSink(DownloadSourceSink* sink) { return gSink.exchange(sink); }

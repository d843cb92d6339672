#include "downloads/transfer_downloads.h"

#include <atomic>

namespace {
std::atomic<TransferDownloads*> gDownloads{nullptr};
}  // namespace

TransferDownloads* transferDownloads() { return gDownloads.load(); }

TransferDownloads* setTransferDownloads(TransferDownloads* downloads) { return gDownloads.exchange(downloads); }

#include "downloads/pool/download_pool_install.h"

#include "downloads/peer_downloads.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/transfer_downloads.h"
#include "overlay/index/download_source_sink.h"

void installDownloadPool() {
    PartnerManager::createInstance();
    DLPool::createInstance();
    DLPool* pool = DLPool::instance();
    setTransferDownloads(pool);
    setPeerDownloads(pool);
    setDownloadSourceSink(pool);
}

void uninstallDownloadPool() {
    DLPool* pool = DLPool::instance();
    if (pool) {
        if (transferDownloads() == static_cast<TransferDownloads*>(pool)) setTransferDownloads(nullptr);
        if (peerDownloads() == static_cast<PeerDownloads*>(pool)) setPeerDownloads(nullptr);
        if (downloadSourceSink() == static_cast<DownloadSourceSink*>(pool)) setDownloadSourceSink(nullptr);
    }
    DLPool::destroyInstance();
    PartnerManager::destroyInstance();
}

#include "downloads/pool/download_states.h"

#include "core/bus/message_q.h"
#include "core/strings/string_table.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/downloading_state.h"

namespace {

void postDiskCheck() {
    if (messageQ) messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
}

void postEnd(Download* download) {
    if (messageQ) messageQ->post(MSG_END_DOWNLOAD, download);
}

// Cancelling while the loaded data is verified again is refused.
void refuseCancel(Download* download) {
    if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_CANT_CANCEL_HASH));
    if (TransferUI* ui = currentTransferUI()) ui->downloadAdded(download);
}

// The loaded data could not be read: the download ends, its files stay
// for a later start. Its parts verified at load were shared; left in the
// shares, the file would count as had and a new start of it be refused
// until the next program start.
void endUnreadable(Download* download) {
    if (PartialFile* partial = download->partialFile()) partial->unshare();
    postEnd(download);
    download->setState(new DLS_Done(download, kDlsErrorHashing));
}

}  // namespace

void DLS_Queued::tick(int) {
    DLPool* pool = DLPool::instance();
    if (pool && pool->gateOpen()) download_->setState(new DLS_Downloading(download_));
}

void DLS_Queued::pause() { download_->setState(new DLS_Paused(download_)); }

void DLS_Queued::diskFull() { download_->setState(new DLS_DiskFull(download_)); }

DLS_Paused::DLS_Paused(Download* download) : DownloadState(download, kDlsPaused) { download->setSpeed(0.0); }

void DLS_Paused::resume() {
    download_->setState(new DLS_Queued(download_));
    postDiskCheck();
}

DLS_DiskFull::DLS_DiskFull(Download* download) : DownloadState(download, kDlsDiskFull) { download->setSpeed(0.0); }

void DLS_DiskFull::pause() { download_->setState(new DLS_Paused(download_)); }

void DLS_DiskFull::diskOk() { download_->setState(new DLS_Queued(download_)); }

DLS_Done::DLS_Done(Download* download, int code) : DownloadState(download, code) { download->setSpeed(0.0); }

DLS_Hashing::DLS_Hashing(Download* download) : DownloadState(download, kDlsHashing) { download->setSpeed(0.0); }

void DLS_Hashing::cancel() { refuseCancel(download_); }

void DLS_Hashing::hashDone(bool verified) {
    Download* download = download_;
    if (!verified) {
        endUnreadable(download);
        return;
    }
    // Bytes done count repeats: only the gaps and pending checks tell
    // whether anything is missing.
    PartialFile* partial = download->partialFile();
    if (partial && !partial->nothingMissing()) {
        download->setState(new DLS_Queued(download));
        postDiskCheck();
        return;
    }
    download->complete();
}

DLS_PausedHashing::DLS_PausedHashing(Download* download) : DownloadState(download, kDlsHashing) {
    download->setSpeed(0.0);
}

void DLS_PausedHashing::cancel() { refuseCancel(download_); }

void DLS_PausedHashing::hashDone(bool verified) {
    if (!verified) {
        endUnreadable(download_);
        return;
    }
    download_->setState(new DLS_Paused(download_));
}

DLS_ErrorLoading::DLS_ErrorLoading(Download* download) : DownloadState(download, kDlsErrorLoading) {
    download->setSpeed(0.0);
}

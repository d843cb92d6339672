#include "downloads/pool/complete_file_thread.h"

#include <atomic>

#include "core/bus/message_q.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_states.h"
#include "v4ada/error/error.h"

namespace {
std::atomic<int> gRunning{0};
}  // namespace

int CompleteFileThread::running() { return gRunning.load(); }

CompleteFileThread::CompleteFileThread(Download* download) : download_(download) { download_->addRef(); }

void CompleteFileThread::launch(Download* download) {
    auto* worker = new CompleteFileThread(download);
    gRunning++;
    if (worker->start()) return;
    // No thread: nothing ran, so the object is ours to delete.
    gRunning--;
    download->release();
    delete worker;
    settle(download, check(download));
}

CompleteResult CompleteFileThread::check(Download* download) {
    PartialFile* partial = download->partialFile();
    if (partial == nullptr) return CompleteResult::kAssemblyFailed;
    try {
        return partial->complete();
    } catch (const i4_err&) {
        partial->setState(PartialFile::kActive);
        return CompleteResult::kAssemblyFailed;
    }
}

void CompleteFileThread::settle(Download* download, CompleteResult result) {
    switch (result) {
        case CompleteResult::kComplete:
            download->setState(new DLS_Done(download, kDlsComplete));
            if (messageQ) messageQ->post(MSG_END_DOWNLOAD, download);
            break;
        case CompleteResult::kCorrupted:
            download->setState(new DLS_Done(download, kDlsCorrupted));
            if (messageQ) messageQ->post(MSG_END_DOWNLOAD, download);
            break;
        case CompleteResult::kRefetch:
            download->setState(new DLS_Queued(download));
            download->completionReturned();
            break;
        case CompleteResult::kAssemblyFailed: {
            // The data is kept as it is (the reason was printed); the
            // download waits for the user to resume it.
            OwnedString name = download->name();
            if (UIGateway* ui = currentUI()) ui->print("%s: not completed, the download is paused", name.c_str());
            download->setState(new DLS_Paused(download));
            download->completionReturned();
            break;
        }
    }
}

void CompleteFileThread::run() {
    CompleteResult result = check(download_);
    download_->lock();
    settle(download_, result);
    download_->unlock();
    requestStop();
}

void CompleteFileThread::onExit() {
    Download* download = download_;
    delete this;
    download->release();
    gRunning--;
}

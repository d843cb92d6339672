#include "downloads/pool/download_state.h"

#include "core/bus/message_q.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/downloading_state.h"

void DownloadState::cancel() {
    Download* download = download_;
    if (PartialFile* partial = download->partialFile()) partial->cancel();
    if (messageQ) messageQ->post(MSG_END_DOWNLOAD, download);
    download->setState(new DLS_Done(download, kDlsDone));
}

bool DownloadState::becomeHighest() {
    download_->setState(new DLS_Highest(download_));
    return true;
}

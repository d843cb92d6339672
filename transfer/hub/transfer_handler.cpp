#include "transfer/hub/transfer_handler.h"

#include <memory>

#include "core/bus/message_q.h"
#include "core/bus/source_records.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/ui/transfer_ui.h"
#include "downloads/transfer_downloads.h"
#include "transfer/hub/shared_files_poster.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/messages/message_pool.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/peer/peer_door.h"
#include "transfer/sharing/shared_file_batch.h"
#include "v4ada/net/proxy_settings.h"
#include "v4ada/string/owned_string.h"

namespace {

constexpr int kCodes[] = {
    MSG_START_DOWNLOAD,   MSG_CANCEL_DOWNLOAD,    MSG_END_DOWNLOAD, MSG_PAUSE_DOWNLOAD,  MSG_RESUME_DOWNLOAD,
    MSG_REFRESH_SHARES,   MSG_ADD_SHARED_FILE,    MSG_ADD_SHARED_FILES, MSG_CHECK_DISK_SPACE, MSG_OPEN_SLOT,
    MSG_PRIVATE_MESSAGE,  MSG_RESERVED_20,        MSG_SHARED_FILE_UPDATE, MSG_SET_PROXY,  MSG_LOAD_PARTIALS,
    MSG_ADD_SOURCE,       MSG_ADD_SOURCE_LINK,    MSG_RESCHEDULE,   MSG_CONNECT_FAILED,
};

// Codes 12 to 14: the action, then the poster's reference goes.
template <typename Action>
void withDownload(void* data, Action action) {
    auto* download = static_cast<Download*>(data);
    TransferDownloads* downloads = transferDownloads();
    if (!download || !downloads) return;
    action(downloads, download);
    downloads->releaseDownload(download);
}

}  // namespace

void TransferHandler::registerAll(MessageQ* bus) {
    if (!bus) return;
    for (int code : kCodes) bus->setHandler(this, code);
}

void TransferHandler::unregisterAll(MessageQ* bus) {
    if (!bus) return;
    for (int code : kCodes) bus->setHandler(nullptr, code);
}

void TransferHandler::discard(Message* message) {
    if (!message) return;
    void* data = message->data;
    switch (message->code) {
        case MSG_START_DOWNLOAD:
        case MSG_ADD_SHARED_FILE:
            delete static_cast<FileMeta*>(data);
            break;
        case MSG_PAUSE_DOWNLOAD:
        case MSG_RESUME_DOWNLOAD:
        case MSG_CANCEL_DOWNLOAD:
            withDownload(data, [](TransferDownloads*, Download*) {});
            break;
        case MSG_ADD_SHARED_FILES:
            delete static_cast<SharedFileBatch*>(data);
            break;
        case MSG_SHARED_FILE_UPDATE:
            delete static_cast<SharedFileUpdate*>(data);
            break;
        case MSG_PRIVATE_MESSAGE:
            delete static_cast<UserMeta*>(data);
            break;
        case MSG_SET_PROXY:
            delete static_cast<ProxySettings*>(data);
            break;
        case MSG_LOAD_PARTIALS:
            delete static_cast<OwnedString*>(data);
            break;
        case MSG_ADD_SOURCE:
            delete static_cast<AddSourceRecord*>(data);
            break;
        case MSG_ADD_SOURCE_LINK:
            delete static_cast<SourceLinkRecord*>(data);
            break;
        case MSG_CONNECT_FAILED:
            delete static_cast<ConnectFailedRecord*>(data);
            break;
        default:
            break;  // no data, or data the handler does not own
    }
}

void TransferHandler::handle(Message* message) {
    if (!message) return;
    TransferDownloads* downloads = transferDownloads();
    void* data = message->data;
    switch (message->code) {
        case MSG_START_DOWNLOAD: {
            std::unique_ptr<FileMeta> record(static_cast<FileMeta*>(data));
            if (record && downloads) downloads->startDownload(record.get());
            break;
        }
        case MSG_END_DOWNLOAD:
            if (data && downloads) downloads->endDownload(static_cast<Download*>(data));
            break;
        case MSG_PAUSE_DOWNLOAD:
            withDownload(data, [](TransferDownloads* pool, Download* d) { pool->pauseDownload(d); });
            break;
        case MSG_RESUME_DOWNLOAD:
            withDownload(data, [](TransferDownloads* pool, Download* d) { pool->resumeDownload(d); });
            break;
        case MSG_CANCEL_DOWNLOAD:
            withDownload(data, [](TransferDownloads* pool, Download* d) { pool->cancelDownload(d); });
            break;
        case MSG_REFRESH_SHARES:
            if (hub_) hub_->refresh();
            break;
        case MSG_ADD_SHARED_FILE:
            if (hub_)
                hub_->addSharedFile(static_cast<FileMeta*>(data));
            else
                delete static_cast<FileMeta*>(data);
            break;
        case MSG_ADD_SHARED_FILES: {
            std::unique_ptr<SharedFileBatch> batch(static_cast<SharedFileBatch*>(data));
            if (hub_ && batch) hub_->addSharedFiles(batch.release());
            break;
        }
        case MSG_SHARED_FILE_UPDATE: {
            std::unique_ptr<SharedFileUpdate> update(static_cast<SharedFileUpdate*>(data));
            if (hub_ && update) hub_->applyUpdate(*update);
            break;
        }
        case MSG_CHECK_DISK_SPACE:
            if (downloads) downloads->checkDiskSpace();
            break;
        case MSG_OPEN_SLOT:
            if (data && downloads) downloads->openSlot(static_cast<TCPConnection*>(data));
            break;
        case MSG_PRIVATE_MESSAGE: {
            std::unique_ptr<UserMeta> user(static_cast<UserMeta*>(data));
            MessagePool* messages = messagePool();
            if (!user || !messages) break;
            MessageSession* session = messages->openSession(user.get());
            if (TransferUI* ui = currentTransferUI()) ui->sessionChanged(session);
            break;
        }
        case MSG_SET_PROXY: {
            std::unique_ptr<ProxySettings> settings(static_cast<ProxySettings*>(data));
            if (hub_) hub_->openDoor(settings.get(), PeerDoor::kProxyListenMs);
            break;
        }
        case MSG_LOAD_PARTIALS: {
            std::unique_ptr<OwnedString> directory(static_cast<OwnedString*>(data));
            if (hub_) hub_->loadPartials(directory ? directory->c_str() : nullptr);
            break;
        }
        case MSG_ADD_SOURCE: {
            std::unique_ptr<AddSourceRecord> record(static_cast<AddSourceRecord*>(data));
            if (record && downloads) downloads->addSource(record->hash, &record->user, nullptr);
            break;
        }
        case MSG_ADD_SOURCE_LINK: {
            std::unique_ptr<SourceLinkRecord> record(static_cast<SourceLinkRecord*>(data));
            if (record && downloads) downloads->addSourceLink(record->hash, record->link.c_str());
            break;
        }
        case MSG_RESCHEDULE:
            if (downloads) downloads->reschedule();
            break;
        case MSG_CONNECT_FAILED: {
            std::unique_ptr<ConnectFailedRecord> record(static_cast<ConnectFailedRecord*>(data));
            // The port stays unsigned 16-bit: ports from 32768 on must match
            // their pending attempt.
            if (record)
                if (ClientPool* pool = clientPool()) pool->notifyConnectFailed(record->ip, record->port);
            break;
        }
        default:
            break;
    }
}

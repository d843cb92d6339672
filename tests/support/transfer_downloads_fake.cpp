#include "support/transfer_downloads_fake.h"

#include <cstdio>

#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "transfer/hub/transfer_gateway.h"

namespace support {

FakeTransferDownloads::FakeTransferDownloads(CallLog* log) : log(log), peer(log) {
    setTransferDownloads(this);
    setPeerDownloads(this);
}

FakeTransferDownloads::~FakeTransferDownloads() {
    if (transferDownloads() == this) setTransferDownloads(nullptr);
    if (peerDownloads() == this) setPeerDownloads(nullptr);
    for (FileMeta* record : reshare) delete record;
}

std::string FakeTransferDownloads::token(Download* download) {
    char text[32];
    snprintf(text, sizeof text, "%p", static_cast<void*>(download));
    return text;
}

void FakeTransferDownloads::startDownload(FileMeta* record) { log->push_back(std::string("start ") + record->name()); }

void FakeTransferDownloads::endDownload(Download* download) { log->push_back("end " + token(download)); }

void FakeTransferDownloads::pauseDownload(Download* download) { log->push_back("pause " + token(download)); }

void FakeTransferDownloads::resumeDownload(Download* download) { log->push_back("resume " + token(download)); }

void FakeTransferDownloads::cancelDownload(Download* download) { log->push_back("cancel " + token(download)); }

void FakeTransferDownloads::releaseDownload(Download* download) { log->push_back("release " + token(download)); }

void FakeTransferDownloads::reshareAll() {
    log->push_back("reshareAll");
    for (FileMeta* record : reshare) {
        auto* copy = new FileMeta();
        copy->copyFrom(record);
        if (hub) hub->addSharedFile(copy);
        else delete copy;
    }
}

void FakeTransferDownloads::loadPartials(const char* tempDir) {
    log->push_back(std::string("loadPartials ") + (tempDir ? tempDir : "(null)"));
    if (onLoadPartials) onLoadPartials();
}

void FakeTransferDownloads::checkDiskSpace() { log->push_back("checkDiskSpace"); }

void FakeTransferDownloads::addSourceLink(const UniqueID& hash, const char* link) {
    log->push_back("addSourceLink " + std::to_string(hash.bytes()[0]) + " " + (link ? link : ""));
}

void FakeTransferDownloads::reschedule() { log->push_back("reschedule"); }

void FakeTransferDownloads::setFilePriority(const UniqueID& hash, int priority) {
    log->push_back("setFilePriority " + std::to_string(hash.bytes()[0]) + " " + std::to_string(priority));
}

void FakeTransferDownloads::shutdown() { log->push_back("shutdown"); }

void FakeTransferDownloads::openSlot(TCPConnection* connection) {
    log->push_back("openSlot");
    peer.lastConnection = connection;
}

void FakeTransferDownloads::addSource(const UniqueID& hash, UserMeta* user, TCPConnection* connection) {
    log->push_back("addSource " + std::to_string(hash.bytes()[0]) + " " + (user ? user->nickname() : "") +
                   (connection ? " with connection" : ""));
}

}  // namespace support

#include "transfer/options/transfer_options.h"

#include <unistd.h>

#include <atomic>

#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/peer_downloads.h"
#include "overlay/gateway/network_gateway.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/file/fs_paths.h"
#include "v4ada/net/proxy_settings.h"

namespace {

std::atomic<TransferOptions*> gOptions{nullptr};

constexpr int64_t kKiB = 1024;

OwnedString pathIn(const OwnedString& base, const char* name) {
    OwnedString path;
    path.format("%s%c%s", base.c_str(), '/', name);
    return path;
}

bool validPort(int port) { return port >= 1 && port <= kLastPort; }

}  // namespace

TransferOptions* TransferOptions::instance() { return gOptions.load(); }

void TransferOptions::createInstance() {
    if (!gOptions.load()) gOptions.store(new TransferOptions());
}

void TransferOptions::destroyInstance() { delete gOptions.exchange(nullptr); }

void TransferOptions::load() {
    CoreOptions* options = coreOptions();
    if (!options) return;
    const OwnedString& base = options->baseDir();
    knownMetPath_ = pathIn(base, "known.met");
    shareDatPath_ = pathIn(base, "share.dat");
    friendMetPath_ = pathIn(base, "friend.met");
    uploadqPath_.format("%s%cuploadq.dat", base.c_str(), '/');

    int32_t port = kDefaultDoorPort;
    if (!options->getIntOption(kOptDoorPort, &port) || !validPort(port)) port = kDefaultDoorPort;
    options->setTcpPort(static_cast<uint16_t>(port));

    OwnedString incoming = options->getStringOption(kOptIncoming);
    if (incoming.isEmpty()) incoming = pathIn(base, "incoming");
    OwnedString temp = options->getStringOption(kOptTemp);
    if (temp.isEmpty()) temp = pathIn(base, "temp");
    {
        SysMutexGuard guard(&lock_);
        incoming_ = incoming;
        temp_ = temp;
    }

    int32_t value = 1;
    saveCor_.store(options->getIntOption(kOptSaveCorrupted, &value) ? value : 1);
    value = 1;
    verifyCancel_.store(options->getIntOption(kOptVerifyCancel, &value) ? value : 1);
    value = 0;
    pmAllow_.store(options->getIntOption(kOptMessagesAllowed, &value) ? value : 0);
    value = 0;
    frAllow_.store(options->getIntOption(kOptFilesAllowed, &value) ? value : 0);
    int32_t reserve = kDefaultReserveKiB;
    if (!options->getIntOption(kOptReserve, &reserve)) reserve = kDefaultReserveKiB;
    resHD_.store(static_cast<int64_t>(reserve) * kKiB);

    fs_create_path(incoming.c_str());
    fs_create_path(temp.c_str());
    loaded_.store(true);
}

void TransferOptions::save() {
    CoreOptions* options = coreOptions();
    if (!options || !loaded_.load()) return;
    options->setIntOption(kOptDoorPort, doorPort());
    options->setStringOption(kOptIncoming, incomingDir().c_str());
    options->setStringOption(kOptTemp, tempDir().c_str());
    options->setIntOption(kOptSaveCorrupted, saveCor_.load());
    options->setIntOption(kOptVerifyCancel, verifyCancel_.load());
    options->setIntOption(kOptMessagesAllowed, pmAllow_.load());
    options->setIntOption(kOptFilesAllowed, frAllow_.load());
    int64_t kib = resHD_.load() / kKiB;
    if (kib > INT32_MAX) kib = INT32_MAX;
    if (kib < INT32_MIN) kib = INT32_MIN;
    options->setIntOption(kOptReserve, static_cast<int32_t>(kib));
}

int TransferOptions::doorPort() const {
    CoreOptions* options = coreOptions();
    uint16_t port = options ? options->tcpPort() : 0;
    return port != 0 ? port : kDefaultDoorPort;
}

OwnedString TransferOptions::incomingDir() {
    SysMutexGuard guard(&lock_);
    return incoming_;
}

OwnedString TransferOptions::tempDir() {
    SysMutexGuard guard(&lock_);
    return temp_;
}

bool TransferOptions::takeDirectory(OwnedString& field, const char* path) {
    if (!usableDirectory(path)) {
        if (UIGateway* ui = currentUI()) ui->print(kDirectoryNotValidText, path ? path : "");
        return false;
    }
    SysMutexGuard guard(&lock_);
    field = path;
    return true;
}

bool TransferOptions::usableDirectory(const char* path) {
    return path && fs_create_path(path) && ::access(path, W_OK | X_OK) == 0;
}

bool TransferOptions::setIncoming(const char* path) { return takeDirectory(incoming_, path); }

bool TransferOptions::setTemp(const char* path) {
    if (tempDir().equals(path)) return false;
    PeerDownloads* downloads = peerDownloads();
    if (downloads && downloads->hasDownloads()) {
        if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_CANT_CHANGE_TEMP));
        return false;
    }
    return takeDirectory(temp_, path);
}

bool TransferOptions::setDoorPort(int port) {
    if (!validPort(port)) return false;
    if (port == doorPort()) return true;
    CoreOptions* options = coreOptions();
    if (options) options->setTcpPort(static_cast<uint16_t>(port));
    closePeerDoor();
    // Nothing listens through a proxy; the settings themselves stay.
    std::shared_ptr<const ProxySettings> proxy = options ? options->proxySettings() : nullptr;
    if (options && !(proxy && proxy->type != kProxyNone)) openDoor(proxy.get(), PeerDoor::kStartupListenMs);
    if (NetworkGateway* gateway = networkGateway()) gateway->republishAll();
    return true;
}

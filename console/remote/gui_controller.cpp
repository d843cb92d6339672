#include "console/remote/gui_controller.h"

#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>

#include "console/cli/servant.h"
#include "console/remote/admin_settings.h"
#include "console/remote/controller_frames.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/tcpip_ui.h"
#include "console/remote/transfer_frames.h"
#include "core/bus/message_q.h"
#include "core/net/budgets.h"
#include "core/options/core_options.h"
#include "core/net/socket_pool.h"
#include "core/net/tcp_frame.h"
#include "core/net/tcp_read_packet.h"
#include "core/search/search.h"
#include "core/startup/core_thread.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/pool/dl_pool.h"
#include "overlay/index/service_search.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/options/transfer_options.h"
#include "transfer/uploads/upload_pool.h"
#include "transfer/uploads/upload_slot_interface.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"

// The opcodes this client handles; every other one takes the connection's
// default (a debug line, the connection stays).
namespace {

// Keywords this short are refused, as the console's search refuses them.
constexpr size_t kShortestKeyword = 3;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;
// Levels of IGUI_PRIORITY and IGUI_SHARE_PRIORITY; larger ones change
// nothing.
constexpr uint8_t kHighestDownloadLevel = 3;
constexpr uint8_t kHighestShareLevel = 2;

uint16_t cut16(int value) { return static_cast<uint16_t>(value < 0 ? 0 : value > 0xFFFF ? 0xFFFF : value); }

float freeMiB(const OwnedString& path) {
    return static_cast<float>(static_cast<double>(fs_free_space(path.c_str() ? path.c_str() : "")) / kBytesPerMiB);
}

}  // namespace

// The opcodes this client handles; every other one takes the connection's
// default (a debug line, the connection stays).
const GUIController::Handler GUIController::kHandlers[] = {
    {IGUI_SHUTDOWN, &GUIController::shutdown},
    {IGUI_COMMAND, &GUIController::command},
    {IGUI_SEARCH, &GUIController::search},
    {IGUI_QUERY_203, &GUIController::queryWithoutData},
    {IGUI_QUERY_204, &GUIController::queryViaNode},
    {IGUI_QUERY_205, &GUIController::queryWithTree},
    {IGUI_QUERY_206, &GUIController::queryWithoutData},
    {IGUI_DOWNLOAD_RESULT, &GUIController::downloadResult},
    {IGUI_PAUSE, &GUIController::pause},
    {IGUI_RESUME, &GUIController::resume},
    {IGUI_CANCEL, &GUIController::cancel},
    {IGUI_PRIORITY, &GUIController::priority},
    {IGUI_IGNORED_212, &GUIController::ignored},
    {IGUI_IGNORED_214, &GUIController::ignored},
    {IGUI_GET_SHARED_DIRS, &GUIController::getSharedDirs},
    {IGUI_COUNT_ONLY, &GUIController::countOnly},
    {IGUI_DOWNLOAD_STATUS_ON, &GUIController::downloadStatusOn},
    {IGUI_DOWNLOAD_STATUS_OFF, &GUIController::downloadStatusOff},
    {IGUI_UPLOAD_STATUS_ON, &GUIController::uploadStatusOn},
    {IGUI_UPLOAD_STATUS_OFF, &GUIController::uploadStatusOff},
    {IGUI_GET_SHARED_FILES, &GUIController::getSharedFiles},
    {IGUI_GET_STATUS, &GUIController::getStatus},
    {IGUI_DOWNLOAD, &GUIController::download},
    {IGUI_GET_PART_MAP, &GUIController::getPartMap},
    {IGUI_GET_DISK_INFO, &GUIController::getDiskInfo},
    {IGUI_SHARE_PRIORITY, &GUIController::sharePriority},
};

GUIController::GUIController(i4_socket* socket, TcpipUI* ui, TaskThread* tasks)
    : TCPConnection(socket, kFrameMarker), ui_(ui), tasks_(tasks ? tasks : coreThread()) {
    statusTask_.setController(this);
    statusTask_.setInterval(kStatusIntervalMs);
    setFrameRule(kMaxLoginFrame, IGUI_LOGIN);
}

GUIController::~GUIController() {
    // From here on no other thread reaches this controller.
    if (ui_) ui_->controllerGone(this);
    if (tasks_) tasks_->removeTask(&statusTask_);
}

const GUIController::Handler* GUIController::findHandler(uint8_t opcode) {
    for (const Handler& handler : kHandlers)
        if (handler.opcode == opcode) return &handler;
    return nullptr;
}

bool GUIController::doTask() {
    const int32_t savedRead = readBudget();
    const int32_t savedWrite = writeBudget();
    setReadBudget(kNoBudgetLimit);
    setWriteBudget(kNoBudgetLimit);
    bool worked = false;
    if (overflowed_.load())
        drop();
    else
        worked = TCPConnection::doTask();
    setReadBudget(savedRead);
    setWriteBudget(savedWrite);
    // Controller traffic stays out of the transfer rates.
    sent_ = 0;
    received_ = 0;
    return worked;
}

void GUIController::tick(int elapsedMs) {
    if (overflowed_.load()) {
        drop();
    } else if (!loggedIn_.load() && elapsedMs > 0) {
        loginWaitMs_ = elapsedMs > kLoginTimeoutMs ? kLoginTimeoutMs + 1 : loginWaitMs_ + elapsedMs;
        if (loginWaitMs_ > kLoginTimeoutMs) drop();
    }
    TCPConnection::tick(elapsedMs);
}

void GUIController::sayLoginText(const char* key, const char* fallback) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    OwnedString text(fallback);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(key, text);
    ui->print("%s", text.c_str());
}

bool GUIController::onFirstMessage(uint8_t opcode, i4_ram_file_class* body) {
    if (opcode != IGUI_LOGIN) return false;
    OwnedString name(body);
    OwnedString pass(body);
    AdminSettings* settings = adminSettings();
    if (!settings || !settings->accepts(name.c_str(), pass.c_str())) {
        sayLoginText(kInvalidLoginKey, kInvalidLoginDefault);
        return false;
    }
    loggedIn_.store(true);
    setFrameRule(kMaxFrameLength, TCPReadPacket::kAnyOpcode);
    if (!ui_ || !ui_->setController(this)) {
        loggedIn_.store(false);
        sayLoginText(kAnotherControlKey, kAnotherControlDefault);
        return false;
    }
    // Logged in: the door no longer counts it as waiting.
    lobbySeat().leave();
    return true;
}

bool GUIController::onMessage(uint8_t opcode, i4_ram_file_class* body) {
    const Handler* handler = findHandler(opcode);
    if (!handler) return TCPConnection::onMessage(opcode, body);
    (this->*(handler->handle))(body);
    return true;
}

void GUIController::initialState(std::vector<ControllerFrame*>& out) {
    out.push_back(newClientStatusFrame());
    if (LLsafe* downloads = ui_ ? ui_->downloadList() : nullptr) {
        LLsafeGuard guard(downloads);
        LLNode* cursor = nullptr;
        while (auto download = static_cast<Download*>(LL::walk(downloads, &cursor)))
            out.push_back(newDownloadAddedFrame(download, idFor(download)));
    }
    if (UploadPool* uploads = uploadPool()) {
        for (UploadSlotInterface* slot : uploads->slotsSnapshot()) {
            out.push_back(newUploadSlotFrame(slot, idFor(slot)));
            slot->release();
        }
    }
}

ControllerFrame* GUIController::newClientStatusFrame() {
    ClientStatus status;
    if (CoreOptions* options = coreOptions()) {
        status.downloadLimit = static_cast<float>(options->downloadLimit());
        status.uploadLimit = static_cast<float>(options->uploadLimit());
        int connections = options->maxConnections();
        status.maxConnections = connections > 0 ? static_cast<uint32_t>(connections) : 0;
        OwnedString nickname = options->nickname();
        status.nickname = nickname.c_str() ? nickname.c_str() : "";
        status.lineSpeed = lineSpeedValue(options->lineSpeedDown());
    }
    if (TransferOptions* transfer = transferOptions()) {
        status.doorPort = static_cast<uint16_t>(transfer->doorPort());
        OwnedString temp = transfer->tempDir();
        OwnedString incoming = transfer->incomingDir();
        status.tempDir = temp.c_str() ? temp.c_str() : "";
        status.incomingDir = incoming.c_str() ? incoming.c_str() : "";
        status.pmAllow = static_cast<uint8_t>(transfer->pmAllow());
        status.saveCor = static_cast<uint8_t>(transfer->saveCor());
        status.verifyCancel = static_cast<uint8_t>(transfer->verifyCancel());
    }
    if (AdminSettings* admin = adminSettings()) status.adminDoorPort = static_cast<uint16_t>(admin->controlPort());
    status.buildDate = buildDateValue(__DATE__);
    status.processId = static_cast<uint32_t>(getpid());
    auto frame = new ControllerFrame(IGUI_CLIENT_STATUS, kClientStatusFixedSize);
    writeClientStatus(frame->out(), status);
    return frame;
}

void GUIController::sendClientStatus() { sendFrame(newClientStatusFrame()); }

void GUIController::sendStatus() {
    if (uploadPush_) {
        if (UploadPool* uploads = uploadPool()) {
            std::vector<UploadSlotInterface*> slots = uploads->slotsSnapshot();
            if (ui_) sendFrame(newUploadStatusFrame(slots, ui_->handles()));
            for (UploadSlotInterface* slot : slots) slot->release();
        }
    }
    if (downloadPush_ && ui_) {
        if (LLsafe* downloads = ui_->downloadList()) sendFrame(newDownloadStatusFrame(downloads, ui_->handles()));
    }
}

void GUIController::sendDownloadAdded(Download* download) {
    if (download) sendFrame(newDownloadAddedFrame(download, idFor(download)));
}

void GUIController::sendUploadSlot(UploadSlotInterface* slot) {
    if (slot) sendFrame(newUploadSlotFrame(slot, idFor(slot)));
}

void GUIController::sendSharedDirs() {
    std::vector<OwnedString> paths;
    if (TransferGateway* transfer = transferGateway()) transfer->directoryPaths(paths);
    sendFrame(newSharedDirsFrame(paths));
}

void GUIController::sendSharedFiles() {
    TransferGateway* transfer = transferGateway();
    sendFrame(newSharedFilesFrame(transfer ? transfer->sharedFiles() : nullptr));
}

void GUIController::sendPartMap(Download* download) {
    if (download) sendFrame(newPartMapFrame(download, idFor(download)));
}

void GUIController::sendDiskInfo() {
    DiskInfo info;
    if (TransferOptions* transfer = transferOptions()) {
        info.tempFreeMiB = freeMiB(transfer->tempDir());
        info.incomingFreeMiB = freeMiB(transfer->incomingDir());
    }
    if (CoreOptions* options = coreOptions()) info.ownIp = options->ownIP();
    CoreThread* core = coreThread();
    if (core && core->socketPool()) info.connections = cut16(core->socketPool()->count());
    if (UploadPool* uploads = uploadPool()) info.queuedUsers = cut16(uploads->queue().queuedCount());
    auto frame = new ControllerFrame(IGUI_DISK_INFO, kDiskInfoSize);
    writeDiskInfo(frame->out(), info);
    sendFrame(frame);
}

uint32_t GUIController::idFor(const void* object) { return ui_ ? ui_->handles()->idFor(object) : 0; }

Download* GUIController::findDownload(const UniqueID& hash) {
    DLPool* pool = DLPool::instance();
    return pool ? pool->findDownload(hash) : nullptr;
}

void GUIController::sendFrame(ControllerFrame* frame) {
    if (!frame) return;
    frame->finish();
    if (overflowed_.load()) {
        delete frame;
        return;
    }
    const int64_t size = frame->frameSize();
    if (unsent_.fetch_add(size) + size > kMaxUnsentBytes) {
        unsent_.fetch_sub(size);
        delete frame;
        if (!overflowed_.exchange(true))
            debug_printf("Controller dropped: more than %d bytes of output unsent\n",
                         static_cast<int>(kMaxUnsentBytes));
        return;
    }
    frame->countIn(&unsent_);
    queue(frame);
}

void GUIController::shutdown(i4_ram_file_class*) {
    if (Servant* servant = consoleServant.load()) servant->requestStop();
}

void GUIController::command(i4_ram_file_class* body) {
    OwnedString line(body);
    if (messageQ) messageQ->post(MSG_COMMAND_LINE, new OwnedString(line));
}

void GUIController::search(i4_ram_file_class* body) {
    // A fresh overlay search of the tree: its first word is the keyword
    // (the key is its MD4), the rest of the tree filters the entries.
    auto search = std::make_unique<ServiceSearch>();
    if (!search->Search::fromNetwork(body))
        error_at(__FILE__, __LINE__)("Unreadable search tree from the controller");
    // The results of the earlier search go.
    if (ui_) ui_->clearResults();
    OwnedString keyword(search->takeKeyword());
    const char* text = keyword.c_str() ? keyword.c_str() : "";
    if (strlen(text) < kShortestKeyword) {
        debug_printf("Search from the controller not run: keyword \"%s\" is shorter than %d characters\n", text,
                     static_cast<int>(kShortestKeyword));
        return;
    }
    search->searchKeyword(text);
    if (messageQ) messageQ->post(MSG_SEARCH, search.release());
}

void GUIController::queryWithoutData(i4_ram_file_class*) {
    // 203 and 206 name no search of their own: nothing to run.
}

void GUIController::queryViaNode(i4_ram_file_class*) {
    // Without data, as the controller gives none; the overlay's handler
    // then does nothing.
    if (messageQ) messageQ->post(MSG_SEARCH_VIA_NODE, nullptr);
}

void GUIController::queryWithTree(i4_ram_file_class* body) {
    // 205: the tree is read (one that does not read drops the connection,
    // as any short payload does); nothing is run with it.
    Search tree;
    if (!tree.fromNetwork(body)) error_at(__FILE__, __LINE__)("Unreadable search tree from the controller");
}

void GUIController::downloadResult(i4_ram_file_class* body) {
    UniqueID hash;
    hash.read(body);
    std::unique_ptr<FileMeta> record = ui_ ? ui_->findResult(hash) : nullptr;
    if (record && messageQ) messageQ->post(MSG_START_DOWNLOAD, record.release());
}

void GUIController::withDownload(i4_ram_file_class* body, const std::function<void(Download*)>& use) {
    UniqueID hash;
    hash.read(body);
    if (Download* download = findDownload(hash)) {
        use(download);
        download->release();
    }
}

void GUIController::pause(i4_ram_file_class* body) {
    withDownload(body, [](Download* download) { download->pause(); });
}

void GUIController::resume(i4_ram_file_class* body) {
    withDownload(body, [](Download* download) { download->resume(); });
}

void GUIController::cancel(i4_ram_file_class* body) {
    withDownload(body, [](Download* download) { download->cancel(); });
}

void GUIController::priority(i4_ram_file_class* body) {
    UniqueID hash;
    hash.read(body);
    uint8_t level = body->read_8();
    if (Download* download = findDownload(hash)) {
        if (level <= kHighestDownloadLevel) DLPool::instance()->setPriority(download, level);
        download->release();
    }
}

void GUIController::ignored(i4_ram_file_class*) {}

void GUIController::getSharedDirs(i4_ram_file_class*) { sendSharedDirs(); }

void GUIController::countOnly(i4_ram_file_class* body) { body->read_16(); }

void GUIController::getSharedFiles(i4_ram_file_class*) { sendSharedFiles(); }

void GUIController::getStatus(i4_ram_file_class*) { sendClientStatus(); }

void GUIController::download(i4_ram_file_class* body) {
    auto record = std::make_unique<FileMeta>();
    if (record->fromNetwork(body) && messageQ) messageQ->post(MSG_START_DOWNLOAD, record.release());
}

void GUIController::getPartMap(i4_ram_file_class* body) {
    withDownload(body, [this](Download* download) { sendPartMap(download); });
}

void GUIController::getDiskInfo(i4_ram_file_class*) { sendDiskInfo(); }

void GUIController::sharePriority(i4_ram_file_class* body) {
    UniqueID hash;
    hash.read(body);
    uint8_t level = body->read_8();
    if (level > kHighestShareLevel) return;
    if (TransferGateway* transfer = transferGateway()) transfer->setPriority(hash, level);
}

void GUIController::downloadStatusOn(i4_ram_file_class*) {
    downloadPush_ = true;
    updateStatusTask();
}

void GUIController::downloadStatusOff(i4_ram_file_class*) {
    downloadPush_ = false;
    updateStatusTask();
}

void GUIController::uploadStatusOn(i4_ram_file_class*) {
    uploadPush_ = true;
    updateStatusTask();
}

void GUIController::uploadStatusOff(i4_ram_file_class*) {
    uploadPush_ = false;
    updateStatusTask();
}

void GUIController::updateStatusTask() {
    if (!tasks_) return;
    const bool wanted = downloadPush_ || uploadPush_;
    if (wanted && !statusListed_) {
        tasks_->addTask(&statusTask_);
        statusListed_ = true;
    } else if (!wanted && statusListed_) {
        tasks_->removeTask(&statusTask_);
        statusListed_ = false;
    }
}

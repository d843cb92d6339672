#include "console/remote/gui_controller.h"

#include <unistd.h>

#include "console/cli/servant.h"
#include "console/remote/admin_settings.h"
#include "console/remote/controller_frames.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/tcpip_ui.h"
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
#include "transfer/options/transfer_options.h"
#include "v4ada/error/error.h"

// The opcodes this client handles; every other one takes the connection's
// default (a debug line, the connection stays).
const GUIController::Handler GUIController::kHandlers[] = {
    {IGUI_SHUTDOWN, &GUIController::shutdown},
    {IGUI_COMMAND, &GUIController::command},
    {IGUI_QUERY_203, &GUIController::queryWithoutData},
    {IGUI_QUERY_204, &GUIController::queryViaNode},
    {IGUI_QUERY_205, &GUIController::queryWithTree},
    {IGUI_QUERY_206, &GUIController::queryWithoutData},
    {IGUI_IGNORED_212, &GUIController::ignored},
    {IGUI_IGNORED_214, &GUIController::ignored},
    {IGUI_COUNT_ONLY, &GUIController::countOnly},
    {IGUI_DOWNLOAD_STATUS_ON, &GUIController::downloadStatusOn},
    {IGUI_DOWNLOAD_STATUS_OFF, &GUIController::downloadStatusOff},
    {IGUI_UPLOAD_STATUS_ON, &GUIController::uploadStatusOn},
    {IGUI_UPLOAD_STATUS_OFF, &GUIController::uploadStatusOff},
    {IGUI_GET_STATUS, &GUIController::getStatus},
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
    return true;
}

bool GUIController::onMessage(uint8_t opcode, i4_ram_file_class* body) {
    const Handler* handler = findHandler(opcode);
    if (!handler) return TCPConnection::onMessage(opcode, body);
    (this->*(handler->handle))(body);
    return true;
}

void GUIController::sendInitialState() {
    sendClientStatus();
    // The downloads (188) and the upload slots (201) follow here once the
    // transfer side provides them.
}

void GUIController::sendClientStatus() {
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
    if (AdminSettings* admin = adminSettings()) status.adminDoorPort = static_cast<uint16_t>(admin->doorPort());
    status.buildDate = buildDateValue(__DATE__);
    status.processId = static_cast<uint32_t>(getpid());
    auto frame = new ControllerFrame(IGUI_CLIENT_STATUS, kClientStatusFixedSize);
    writeClientStatus(frame->out(), status);
    sendFrame(frame);
}

void GUIController::sendStatus() {
    // The upload (200) and download (197) status join here with the
    // upload slots and the downloads they report.
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

void GUIController::ignored(i4_ram_file_class*) {}

void GUIController::countOnly(i4_ram_file_class* body) { body->read_16(); }

void GUIController::getStatus(i4_ram_file_class*) { sendClientStatus(); }

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

#include "console/remote/tcpip_ui.h"

#include <vector>

#include "console/cli/result_download.h"
#include "console/remote/controller_frames.h"
#include "console/remote/controller_opcodes.h"
#include "console/remote/gui_controller.h"
#include "console/remote/transfer_frames.h"
#include "overlay/index/service.h"
#include "transfer/uploads/upload_slot.h"
#include "v4ada/string/cstring.h"

namespace {

// The text of a format and its arguments, cut to `limit` characters.
template <int limit>
struct Formatted {
    Formatted(const char* format, va_list args) {
        va_list copy;
        va_copy(copy, args);
        i4_vsnprintf(text, sizeof text, format ? format : "", copy);
        va_end(copy);
    }
    char text[limit + 1];
};

}  // namespace

TcpipUI::TcpipUI(UIGateway* consoleUI, CoreUI* consoleCore, TransferUI* consoleTransfer)
    : consoleUI_(consoleUI), consoleCore_(consoleCore), consoleTransfer_(consoleTransfer) {
    if (consoleUI_) {
        setLogPath(consoleUI_->logPath().c_str());
        UIGateway::setVerbose(consoleUI_->isVerbose());
    }
}

TcpipUI::~TcpipUI() { results_.clear(); }

void TcpipUI::setVerbose(bool on) {
    UIGateway::setVerbose(on);
    if (consoleUI_) consoleUI_->setVerbose(on);
}

void TcpipUI::vprint(const char* format, va_list args) {
    Formatted<kPrintTextMax> line(format, args);
    sendText(IGUI_CONSOLE_TEXT, line.text);
    if (consoleUI_) consoleUI_->print("%s", line.text);
}

void TcpipUI::vprintRaw(const char* format, va_list args) {
    Formatted<kPrintTextMax> text(format, args);
    if (sendText(IGUI_ERROR_TEXT, text.text)) return;
    if (consoleUI_) consoleUI_->printRaw("%s", text.text);
}

void TcpipUI::vdebug(const char* format, va_list args) {
    if (!consoleUI_ || !consoleUI_->isVerbose()) return;
    Formatted<kPrintTextMax> text(format, args);
    consoleUI_->debug("%s", text.text);
}

void TcpipUI::vprintFlush(const char* format, va_list args) {
    Formatted<kFlushTextMax> text(format, args);
    if (consoleUI_) consoleUI_->printFlush("%s", text.text);
}

bool TcpipUI::setController(GUIController* controller) {
    if (!controller || hasController()) return false;
    // Built outside the lock: it reads the downloads and the slots under
    // their own locks. Only the task thread attaches, so nothing the
    // frames report changes meanwhile.
    std::vector<ControllerFrame*> initial;
    controller->initialState(initial);
    SysMutexGuard guard(&controllerLock_);
    if (controller_) {
        for (ControllerFrame* frame : initial) delete frame;
        return false;
    }
    controller_ = controller;
    for (ControllerFrame* frame : initial) controller->sendFrame(frame);
    return true;
}

void TcpipUI::controllerGone(GUIController* controller) {
    SysMutexGuard guard(&controllerLock_);
    if (controller_ != controller) return;
    controller_ = nullptr;
    results_.clear();
}

bool TcpipUI::hasController() {
    SysMutexGuard guard(&controllerLock_);
    return controller_ != nullptr;
}

bool TcpipUI::sendToController(ControllerFrame* frame) {
    SysMutexGuard guard(&controllerLock_);
    if (!controller_) {
        delete frame;
        return false;
    }
    controller_->sendFrame(frame);
    return true;
}

bool TcpipUI::sendText(uint8_t opcode, const char* text) {
    SysMutexGuard guard(&controllerLock_);
    if (!controller_) return false;
    controller_->sendFrame(newTextFrame(opcode, text));
    return true;
}

bool TcpipUI::addResult(Service* result) {
    if (!result) return false;
    SysMutexGuard guard(&controllerLock_);
    if (!controller_) return false;
    auto frame = new ControllerFrame(IGUI_SEARCH_RESULT);
    result->toNetwork(frame->out());
    controller_->sendFrame(frame);
    if (results_.count() < kMostResults) {
        FileMeta* record = downloadRecordOf(*result);
        if (results_.add(record)) delete record;  // that file is kept already
    }
    return true;
}

std::unique_ptr<FileMeta> TcpipUI::findResult(const UniqueID& hash) {
    LLsafeGuard guard(results_.list());
    LLNode* cursor = nullptr;
    while (auto record = static_cast<FileMeta*>(LL::walk(results_.list(), &cursor))) {
        if (!record->fileHash().equals(hash)) continue;
        auto copy = std::make_unique<FileMeta>();
        copy->copyFrom(record);
        return copy;
    }
    return nullptr;
}

void TcpipUI::clearResults() { results_.clear(); }

void TcpipUI::downloadAdded(Download* download) {
    if (download && hasController()) sendToController(newDownloadAddedFrame(download, handles_.idFor(download)));
    if (consoleTransfer_) consoleTransfer_->downloadAdded(download);
}

void TcpipUI::downloadRemoved(Download* download) {
    if (download && hasController()) sendToController(newDownloadRemovedFrame(download));
    handles_.drop(download);
    if (consoleTransfer_) consoleTransfer_->downloadRemoved(download);
}

void TcpipUI::uploadSlotRemoved(UploadSlot* slot) {
    const UploadSlotInterface* key = slot;
    {
        SysMutexGuard guard(&controllerLock_);
        if (controller_) {
            auto frame = new ControllerFrame(IGUI_UPLOAD_SLOT_REMOVED, 4);
            frame->out()->write_32(handles_.idFor(key));
            controller_->sendFrame(frame);
            handles_.drop(key);
            return;
        }
    }
    handles_.drop(key);
    if (consoleTransfer_) consoleTransfer_->uploadSlotRemoved(slot);
}

void TcpipUI::uploadSlotChanged(UploadSlot* slot) {
    UploadSlotInterface* key = slot;
    if (key && hasController()) {
        sendToController(newUploadSlotFrame(key, handles_.idFor(key)));
        return;
    }
    if (consoleTransfer_) consoleTransfer_->uploadSlotChanged(slot);
}

void TcpipUI::friendsChanged() {
    {
        SysMutexGuard guard(&controllerLock_);
        if (controller_) {
            controller_->sendFrame(new ControllerFrame(IGUI_FRIENDS_CHANGED));
            return;
        }
    }
    if (consoleTransfer_) consoleTransfer_->friendsChanged();
}

void TcpipUI::setStatus(const char* text) {
    if (sendText(IGUI_STATUS_TEXT, text)) return;
    if (consoleTransfer_) consoleTransfer_->setStatus(text);
}

LLsafe* TcpipUI::downloadList() { return consoleTransfer_ ? consoleTransfer_->downloadList() : nullptr; }

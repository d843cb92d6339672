// TcpipUI: the user interface of remote mode. It stands between the
// subsystems and the console's user interface: output and notifications
// go on to the console and, while a controller is logged in, are mirrored
// to it as protocol frames.
//
// Output is formatted here first (print, printRaw and debug into at most
// kPrintTextMax characters, printFlush into kFlushTextMax) and handed on
// as text, never as a format. Log lines keep going to the console's log
// file, whose path is copied at construction with its verbose flag.
//
// While a controller is attached the overlay's search results go to it
// instead of the console, and a download record of each (as the console's
// command d makes one) is kept, once per file hash and at most
// kMostResults, for IGUI_DOWNLOAD_RESULT; the list is emptied by each
// controller search and when the controller leaves.
//
// Any thread may print, and the hashing thread sets the status: the
// attached controller is read, used and cleared under one lock, so no
// frame reaches a controller that is going away. Frames that read other
// objects (downloads, slots) are built before that lock is taken; inside
// it frames are only queued, and nothing prints.
#pragma once

#include <cstdarg>
#include <memory>

#include "console/remote/handle_table.h"
#include "core/meta/file_list.h"
#include "core/ui/core_ui.h"
#include "core/ui/transfer_ui.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/threads/linux/sys_mutex.h"

class ControllerFrame;
class GUIController;
class Service;
class UniqueID;

class TcpipUI : public UIGateway, public CoreUI, public TransferUI {
public:
    static constexpr int kPrintTextMax = 1023;
    static constexpr int kFlushTextMax = 255;
    static constexpr int kMostResults = 1000;

    // The console side it forwards to (not owned).
    TcpipUI(UIGateway* consoleUI, CoreUI* consoleCore, TransferUI* consoleTransfer);
    ~TcpipUI() override;

    void setVerbose(bool on) override;
    // With a controller: IGUI_CONSOLE_TEXT; always the console's print.
    void vprint(const char* format, va_list args) override;
    // With a controller: IGUI_ERROR_TEXT only; else the console's raw print.
    void vprintRaw(const char* format, va_list args) override;
    void vdebug(const char* format, va_list args) override;
    void vprintFlush(const char* format, va_list args) override;

    // Attaches the controller when none is, queueing its initial state
    // before any other frame can reach it; false when one is attached.
    bool setController(GUIController* controller);
    // Detaches the controller when it is the attached one; once this
    // returns no thread reaches it through this interface.
    void controllerGone(GUIController* controller);
    bool hasController();
    // Sends the frame to the attached controller; without one it is
    // deleted and false returned.
    bool sendToController(ControllerFrame* frame);
    // Sends a one-string frame when a controller is attached (the frame is
    // built only then); false without one.
    bool sendText(uint8_t opcode, const char* text);

    // The ids of downloads and upload slots in the controller protocol.
    HandleTable* handles() { return &handles_; }

    // With a controller: IGUI_SEARCH_RESULT with the result's wire form,
    // and its download record kept (see above); true. Without one
    // nothing, false.
    bool addResult(Service* result);
    // A copy of the kept record of that file hash, or null.
    std::unique_ptr<FileMeta> findResult(const UniqueID& hash);
    void clearResults();
    int resultCount() { return results_.count(); }

    // Transfer notifications.
    // With a controller: IGUI_DOWNLOAD_ADDED; always the console's.
    void downloadAdded(Download* download) override;
    // With a controller: IGUI_DOWNLOAD_REMOVED; always the console's. The
    // download's id goes.
    void downloadRemoved(Download* download) override;
    // With a controller: IGUI_UPLOAD_SLOT_REMOVED with the slot's id only.
    void uploadSlotRemoved(UploadSlot* slot) override;
    // With a controller: IGUI_UPLOAD_SLOT only.
    void uploadSlotChanged(UploadSlot* slot) override;
    // With a controller: IGUI_FRIENDS_CHANGED only.
    void friendsChanged() override;
    // With a controller: IGUI_STATUS_TEXT only.
    void setStatus(const char* text) override;
    void gotMessage(MessageSession*, const char*) override {}
    void sessionChanged(MessageSession*) override {}
    LLsafe* downloadList() override;

    UIGateway* consoleUI() const { return consoleUI_; }
    CoreUI* consoleCore() const { return consoleCore_; }
    TransferUI* consoleTransfer() const { return consoleTransfer_; }

private:
    UIGateway* consoleUI_;
    CoreUI* consoleCore_;
    TransferUI* consoleTransfer_;
    HandleTable handles_;
    SysMutex controllerLock_ TS_ACQUIRED_BEFORE(results_.list());  // guards controller_ and every send to it
    GUIController* controller_ TS_GUARDED_BY(controllerLock_) = nullptr;
    // Download records of the results sent (own lock, taken inside
    // controllerLock_).
    FileList results_;
};

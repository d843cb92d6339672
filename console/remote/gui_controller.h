// GUIController: the connection of one remote controller. Its first frame
// must be the login; every later frame is dispatched by its opcode through
// one table. It sends the answers, the pushes of its status task and the
// notices the remote user interface hands it.
//
// Before the login only a login frame is read: any other opcode, or a
// length beyond the largest login, drops the connection before its body
// is read, and so does a connection still without a login after
// kLoginTimeoutMs. A controller whose queued, unsent output passes
// kMaxUnsentBytes (it stopped reading) is dropped.
//
// The connection is served on the task thread. Frames may be queued from
// any thread (sendFrame); the remote user interface serialises that with
// the controller's going away.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "console/remote/ui_status_task.h"
#include "core/net/tcp_connection.h"

class ControllerFrame;
class Download;
class TaskThread;
class TcpipUI;
class UniqueID;
class UploadSlotInterface;

// Texts of the login (string-table keys and English defaults).
constexpr const char* kInvalidLoginKey = "invalidNamePass";
constexpr const char* kInvalidLoginDefault = "Invalid name and pass";
constexpr const char* kAnotherControlKey = "anotherControl";
constexpr const char* kAnotherControlDefault = "Another Control attempt";

class GUIController : public TCPConnection {
public:
    static constexpr int kStatusIntervalMs = 3000;
    static constexpr int kLoginTimeoutMs = 10000;
    static constexpr int64_t kMaxUnsentBytes = 16 * 1024 * 1024;
    // Opcode and two strings of the longest encoded length.
    static constexpr uint32_t kMaxLoginFrame = 1 + 2 * (2 + 65535);

    // An accepted controller socket (owned from here on), the remote user
    // interface it reports to, and the task thread its status task joins
    // (null: the core's).
    GUIController(i4_socket* socket, TcpipUI* ui, TaskThread* tasks = nullptr);
    // Detaches from the remote user interface, then leaves the task list.
    ~GUIController() override;

    // Serves the socket outside the byte budgets: they are lifted for the
    // service and put back after, and the traffic is not counted in the
    // rates.
    bool doTask() override;
    // The login time-out and the unsent-output limit are watched here.
    void tick(int elapsedMs) override;
    bool onFirstMessage(uint8_t opcode, i4_ram_file_class* body) override;
    bool onMessage(uint8_t opcode, i4_ram_file_class* body) override;

    // The frames of the initial state, in order: the client status, then
    // IGUI_DOWNLOAD_ADDED per download of the remote interface's list
    // (walked under its lock), then IGUI_UPLOAD_SLOT per upload slot. The
    // remote user interface queues them while it attaches this controller.
    void initialState(std::vector<ControllerFrame*>& out);
    // IGUI_CLIENT_STATUS from the options, the transfer settings and the
    // remote-control settings.
    void sendClientStatus();
    // The pushes of the status task: IGUI_UPLOAD_STATUS while uploadPush
    // is on, IGUI_DOWNLOAD_STATUS while downloadPush is on. Task thread.
    virtual void sendStatus();
    // The answers, each built from what it reports and queued.
    void sendDownloadAdded(Download* download);
    void sendUploadSlot(UploadSlotInterface* slot);
    void sendSharedDirs();
    void sendSharedFiles();
    void sendPartMap(Download* download);
    void sendDiskInfo();
    // Queues the frame (finished here) or, past the unsent-output limit,
    // deletes it and has the connection dropped. Any thread.
    virtual void sendFrame(ControllerFrame* frame);

    bool loggedIn() const { return loggedIn_.load(); }
    bool downloadPush() const { return downloadPush_; }
    bool uploadPush() const { return uploadPush_; }
    // Whether the status task is in the task list.
    bool statusTaskListed() const { return statusListed_; }
    UIStatusTask* statusTask() { return &statusTask_; }
    int64_t unsentBytes() const { return unsent_.load(); }

    struct Handler {
        uint8_t opcode;
        void (GUIController::*handle)(i4_ram_file_class* body);
    };

private:
    void shutdown(i4_ram_file_class* body);
    void command(i4_ram_file_class* body);
    void search(i4_ram_file_class* body);
    void queryWithoutData(i4_ram_file_class* body);
    void queryViaNode(i4_ram_file_class* body);
    void queryWithTree(i4_ram_file_class* body);
    void downloadResult(i4_ram_file_class* body);
    void pause(i4_ram_file_class* body);
    void resume(i4_ram_file_class* body);
    void cancel(i4_ram_file_class* body);
    void priority(i4_ram_file_class* body);
    void ignored(i4_ram_file_class* body);
    void getSharedDirs(i4_ram_file_class* body);
    void countOnly(i4_ram_file_class* body);
    void downloadStatusOn(i4_ram_file_class* body);
    void downloadStatusOff(i4_ram_file_class* body);
    void uploadStatusOn(i4_ram_file_class* body);
    void uploadStatusOff(i4_ram_file_class* body);
    void getSharedFiles(i4_ram_file_class* body);
    void getStatus(i4_ram_file_class* body);
    void download(i4_ram_file_class* body);
    void getPartMap(i4_ram_file_class* body);
    void getDiskInfo(i4_ram_file_class* body);
    void sharePriority(i4_ram_file_class* body);

    static const Handler kHandlers[];
    static const Handler* findHandler(uint8_t opcode);

    // The download of the hash, with a reference the caller releases, or
    // null.
    static Download* findDownload(const UniqueID& hash);
    // Reads a file hash and hands its download, when there is one, to use
    // (the reference is released after).
    static void withDownload(i4_ram_file_class* body, const std::function<void(Download*)>& use);
    ControllerFrame* newClientStatusFrame();
    uint32_t idFor(const void* object);
    // Adds or removes the status task as the push flags say.
    void updateStatusTask();
    void sayLoginText(const char* key, const char* fallback);

    UIStatusTask statusTask_;
    bool uploadPush_ = false;
    bool downloadPush_ = false;
    TcpipUI* ui_;
    TaskThread* tasks_;
    bool statusListed_ = false;
    std::atomic<bool> loggedIn_{false};
    int32_t loginWaitMs_ = 0;
    std::atomic<int64_t> unsent_{0};
    std::atomic<bool> overflowed_{false};
};

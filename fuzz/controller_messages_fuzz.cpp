// Feeds a controller's frames through the login and the opcode dispatch,
// with the remote user interface, the settings, the bus, a download pool
// holding one download (file hash kKnownFile), two upload slots and one
// kept search result (file hash kKnownResult) behind it.
// Input: a sequence of frames, each u8 opcode | u16 LE payload length |
// payload (cut at the end of the input); the first is the login. A frame
// that raises (a payload shorter than its fields) or a refused login ends
// the connection, as on the wire.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/remote/admin_settings.h"
#include "console/remote/controller_frames.h"
#include "console/remote/gui_controller.h"
#include "console/remote/tcpip_ui.h"
#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/task/task_thread.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "support/download_world.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"

namespace {

// The known download's file hash (16 bytes of it) and the kept result's.
constexpr uint8_t kKnownFile = 0x24;
constexpr uint8_t kKnownResult = 0x42;

UniqueID filledId(uint8_t byte) {
    UniqueID id;
    id.copy(std::string(kUniqueIdSize, static_cast<char>(byte)).data());
    return id;
}

class SilentUI : public UIGateway {
protected:
    void writeOutput(const char*, int) override {}
    void flushOutput() override {}
};

// Frees what the controller posts instead of acting on it.
class BusSink : public MessageHandler {
public:
    void handle(Message* message) override {
        switch (message->code) {
            case MSG_COMMAND_LINE: delete static_cast<OwnedString*>(message->data); break;
            case MSG_SEARCH: delete static_cast<ServiceSearch*>(message->data); break;
            case MSG_START_DOWNLOAD: delete static_cast<FileMeta*>(message->data); break;
            default: break;
        }
    }
};

class FuzzController : public GUIController {
public:
    FuzzController(TcpipUI* ui, TaskThread* tasks) : GUIController(nullptr, ui, tasks) {}
    void sendFrame(ControllerFrame* frame) override {
        frame->finish();
        delete frame;
    }
};

struct World {
    World() : remote(&console, nullptr, &downloads.transferUI) {
        set_debug_output(nullptr);
        AdminSettings::createInstance();
        adminSettings()->setLogin("u", "p");
        // The download world made the bus; what the controller posts comes
        // here, the download codes stay with the world.
        for (int code : {MSG_COMMAND_LINE, MSG_SEARCH_VIA_NODE, MSG_SEARCH, MSG_START_DOWNLOAD})
            messageQ->setHandler(&sink, code);
        setCurrentUI(&remote);
        setCurrentTransferUI(&remote);
        UploadPool::createInstance();
        result.descId = filledId(kKnownResult);
        result.set("Name", "kept.bin", kTagString);
    }
    // The known download, started again when an input cancelled it.
    void keepDownload() {
        if (Download* download = downloads.pool->findDownload(filledId(kKnownFile))) {
            download->release();
            return;
        }
        FileMeta record;
        record.setFileHash(filledId(kKnownFile));
        record.setName("known.bin");
        record.setSize(3000);
        downloads.pool->startDownload(&record);
    }

    support::DownloadWorld downloads;
    SilentUI console;
    TcpipUI remote;
    TaskThread tasks;
    BusSink sink;
    Service result;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();
    world->keepDownload();
    auto controller = new FuzzController(&world->remote, &world->tasks);
    size_t offset = 0;
    bool first = true;
    while (offset + 3 <= size) {
        uint8_t opcode = data[offset];
        size_t length = static_cast<size_t>(data[offset + 1]) | static_cast<size_t>(data[offset + 2]) << 8;
        offset += 3;
        if (length > size - offset) length = size - offset;
        std::string payload(reinterpret_cast<const char*>(data + offset), length);
        offset += length;
        i4_ram_file_class body(payload.data(), static_cast<i4_pos>(payload.size()), 0);
        bool keep = false;
        try {
            keep = first ? controller->onFirstMessage(opcode, &body) : controller->onMessage(opcode, &body);
        } catch (const i4_err&) {
            keep = false;
        }
        if (keep && first) world->remote.addResult(&world->result);
        first = false;
        if (!keep) break;
        controller->sendStatus();
        world->tasks.step();
        world->downloads.pumpBus();
    }
    delete controller;
    world->tasks.step();
    world->downloads.settle();
    return 0;
}

// Feeds a controller's frames through the login and the opcode dispatch,
// with the remote user interface, the settings and the bus behind it.
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
#include "core/task/task_thread.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"

namespace {

class SilentUI : public UIGateway {
protected:
    void writeOutput(const char*, int) override {}
    void flushOutput() override {}
};

// Frees what the controller posts.
class BusSink : public MessageHandler {
public:
    void handle(Message* message) override {
        if (message->code == MSG_COMMAND_LINE) delete static_cast<OwnedString*>(message->data);
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
    World() : remote(&console, nullptr, nullptr) {
        set_debug_output(nullptr);
        AdminSettings::createInstance();
        adminSettings()->setLogin("u", "p");
        message_bus_create();
        for (int code : {MSG_COMMAND_LINE, MSG_SEARCH_VIA_NODE}) messageQ->setHandler(&sink, code);
        setCurrentUI(&remote);
    }
    SilentUI console;
    TcpipUI remote;
    TaskThread tasks;
    BusSink sink;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World* world = new World();
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
        first = false;
        if (!keep) break;
        world->tasks.step();
    }
    delete controller;
    world->tasks.step();
    while (messageQ->tick(0)) {
    }
    return 0;
}

// Helpers of the remote-control tests: wire bytes, and a controller
// without a socket that records the frames it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/remote/gui_controller.h"

class ControllerFrame;
class TaskThread;

namespace remotetest {

// The shared byte builders, as the text form these tests compare.
std::string le16(uint16_t value);
std::string le32(uint32_t value);
// The encoded string form: u16 length and the bytes.
std::string str(const std::string& text);
// The frame's bytes on the wire (header included).
std::string frameBytes(ControllerFrame* frame);

struct SentFrame {
    uint8_t opcode;
    std::string payload;
};

class RecordingController : public GUIController {
public:
    RecordingController(TcpipUI* ui, TaskThread* tasks) : GUIController(nullptr, ui, tasks) {}

    void sendFrame(ControllerFrame* frame) override;
    void sendStatus() override { statusPushes++; }

    // Feeds one frame body (opcode and payload) as the connection would:
    // the first to onFirstMessage, the later ones to onMessage. A read past
    // the payload raises i4_err as on the wire.
    bool feed(uint8_t opcode, const std::string& payload);

    std::vector<SentFrame> frames;
    int statusPushes = 0;

private:
    bool first_ = true;
};

}  // namespace remotetest

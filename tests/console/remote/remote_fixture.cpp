#include "console/remote/remote_fixture.h"

#include "console/remote/controller_frames.h"
#include "core/net/tcp_frame.h"
#include "v4ada/file/ram_file.h"

namespace remotetest {

std::string le16(uint16_t value) { return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }

std::string le32(uint32_t value) { return le16(static_cast<uint16_t>(value & 0xFFFF)) + le16(static_cast<uint16_t>(value >> 16)); }

std::string str(const std::string& text) { return le16(static_cast<uint16_t>(text.size())) + text; }

std::string frameBytes(ControllerFrame* frame) {
    frame->finish();
    return std::string(reinterpret_cast<const char*>(frame->buffer()->data()), static_cast<size_t>(frame->frameSize()));
}

std::string wireFrame(uint8_t opcode, const std::string& payload) {
    return std::string(1, static_cast<char>(kFrameMarker)) + le32(static_cast<uint32_t>(payload.size() + 1)) +
           std::string(1, static_cast<char>(opcode)) + payload;
}

void RecordingController::sendFrame(ControllerFrame* frame) {
    std::string bytes = frameBytes(frame);
    delete frame;
    frames.push_back(SentFrame{static_cast<uint8_t>(bytes[kFrameHeaderSize]), bytes.substr(kFrameHeaderSize + 1)});
}

bool RecordingController::feed(uint8_t opcode, const std::string& payload) {
    std::string copy = payload;
    i4_ram_file_class body(copy.data(), static_cast<i4_pos>(copy.size()), 0);
    if (first_) {
        first_ = false;
        return onFirstMessage(opcode, &body);
    }
    return onMessage(opcode, &body);
}

}  // namespace remotetest

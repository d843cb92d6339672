#include "console/remote/remote_fixture.h"

#include "console/remote/controller_frames.h"
#include "core/net/tcp_frame.h"
#include "support/bytes.h"
#include "v4ada/file/ram_file.h"

namespace remotetest {

std::string le16(uint16_t value) { return support::as_text(support::le16(value)); }

std::string le32(uint32_t value) { return support::as_text(support::le32(value)); }

std::string str(const std::string& text) { return support::as_text(support::counted_text(text)); }

std::string frameBytes(ControllerFrame* frame) {
    frame->finish();
    return std::string(reinterpret_cast<const char*>(frame->buffer()->data()), static_cast<size_t>(frame->frameSize()));
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

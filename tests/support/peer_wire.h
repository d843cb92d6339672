// The client side of the peer protocol for tests: a loopback client that
// sends and reads frames, and the hello with its check code.
//
//   support::FrameClient client(support::raw_connect(port));
//   client.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
//   client.poll(support::kReplyWaitMs);  // frames land in client.frames
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/meta/user_meta.h"

class UniqueID;

namespace support {

// How long a wait for a reply polls the client socket between steps (the
// client's acknowledgements may hold a small reply back briefly).
constexpr int kReplyWaitMs = 5;

struct Frame {
    uint8_t opcode;
    std::string payload;
};

// A raw loopback client that sends and reads frames (it owns the
// descriptor).
class FrameClient {
public:
    explicit FrameClient(int fd);
    ~FrameClient();
    FrameClient(const FrameClient&) = delete;
    FrameClient& operator=(const FrameClient&) = delete;

    void send(uint8_t opcode, const std::string& payload);
    void sendRaw(const std::string& bytes);
    // Takes what has arrived, waiting up to timeoutMs for the first bytes;
    // false once the other side closed.
    bool poll(int timeoutMs = 0);
    // Polls until count frames are in, the other side closed, or timeoutMs
    // passed (for a client in another process); true when they are in.
    bool awaitFrames(size_t count, int timeoutMs);

    std::vector<Frame> frames;
    bool closed = false;

private:
    int fd_;
    std::string pending_;
};

// Little-endian fields as text bytes.
std::string le16s(uint16_t value);
std::string le32s(uint32_t value);
std::string frame(uint8_t opcode, const std::string& payload);
std::string hashBytes(const UniqueID& hash);
std::string userWire(UserMeta& user);
// A hello body after the opcode: [16], the user, buddy address and port,
// then a code for the user's port (or a wrong one), cut to codeBytes.
std::string helloPayload(UserMeta& user, uint32_t buddyIp, uint16_t buddyPort, bool sizeByte, bool rightCode,
                         int codeBytes = 4);
// Whether the code at the end of the message verifies with the port.
bool codeVerifies(uint8_t opcode, const std::string& payload, int port);
UserMeta makeUser(const char* nickname, uint32_t ip, uint16_t port, uint8_t hashByte);

}  // namespace support

#include "support/peer_wire.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/net/check_trailer.h"
#include "support/bytes.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "transfer/peer/iclt_opcodes.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/file/ram_file.h"

namespace support {

// ---- scripted client ----

FrameClient::~FrameClient() {
    if (fd_ >= 0) ::close(fd_);
}

void FrameClient::send(uint8_t opcode, const std::string& payload) { sendRaw(frame(opcode, payload)); }

void FrameClient::sendRaw(const std::string& bytes) { raw_write(fd_, bytes); }

FrameClient::FrameClient(int fd) : fd_(fd) {
    // Small frames leave at once instead of waiting for an acknowledgement.
    int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

bool FrameClient::poll(int timeoutMs) {
    if (closed) return false;
    for (int wait = timeoutMs;; wait = 0) {
        bool gone = false;
        std::string got = raw_read(fd_, wait, &gone);
        if (gone) closed = true;
        if (got.empty()) break;
        pending_ += got;
    }
    while (pending_.size() >= 5) {
        uint32_t length = static_cast<uint8_t>(pending_[1]) | static_cast<uint8_t>(pending_[2]) << 8 |
                          static_cast<uint8_t>(pending_[3]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(pending_[4])) << 24;
        if (pending_.size() < 5 + static_cast<size_t>(length) || length == 0) break;
        frames.push_back(Frame{static_cast<uint8_t>(pending_[5]), pending_.substr(6, length - 1)});
        pending_.erase(0, 5 + length);
    }
    return !closed;
}

bool FrameClient::awaitFrames(size_t count, int timeoutMs) {
    for (int waited = 0; frames.size() < count && !closed && waited < timeoutMs; waited += kReplyWaitMs)
        poll(kReplyWaitMs);
    return frames.size() >= count;
}

// ---- wire helpers ----

std::string le16s(uint16_t value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string le32s(uint32_t value) { return as_text(le32(value)); }

std::string frame(uint8_t opcode, const std::string& payload) { return tcp_frame(opcode, payload); }

std::string hashBytes(const UniqueID& hash) { return std::string(reinterpret_cast<const char*>(hash.bytes()), 16); }

std::string userWire(UserMeta& user) {
    uint8_t buffer[4096];
    i4_ram_file_class file(buffer, sizeof(buffer), 0);
    user.toNetwork(&file);
    return std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(file.tell()));
}

std::string helloPayload(UserMeta& user, uint32_t buddyIp, uint16_t buddyPort, bool sizeByte, bool rightCode,
                         int codeBytes) {
    std::string message(1, static_cast<char>(sizeByte ? ICLT_HELLO : ICLT_HELLO_ANSWER));
    if (sizeByte) message.push_back(static_cast<char>(kHelloHashSize));
    message += userWire(user) + le32s(buddyIp) + le16s(buddyPort) + std::string(4, '\0');
    messageCheckTrailer(reinterpret_cast<uint8_t*>(message.data()), message.size(), static_cast<int16_t>(user.port()));
    if (!rightCode) message.back() = static_cast<char>(message.back() ^ 0x5A);
    message.resize(message.size() - 4 + static_cast<size_t>(codeBytes));
    return message.substr(1);
}

bool codeVerifies(uint8_t opcode, const std::string& payload, int port) {
    std::string message = std::string(1, static_cast<char>(opcode)) + payload;
    return messageCheckTrailer(reinterpret_cast<uint8_t*>(message.data()), message.size(), static_cast<int16_t>(port));
}

UserMeta makeUser(const char* nickname, uint32_t ip, uint16_t port, uint8_t hashByte) {
    UserMeta user;
    user.setNickname(nickname);
    user.setIp(ip);
    user.setPort(port);
    user.setUserHash(hashOf(hashByte));
    return user;
}

}  // namespace support

// A peer after its hello fed arbitrary messages: each input is a run of
// [u8 opcode | u16 LE length | length bytes] records, dispatched in order
// until one fails the connection.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/meta/user_meta.h"
#include "fuzz/peer_world.h"
#include "v4ada/file/ram_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    peerfuzz::makeWorld();
    return 0;
}

namespace {

// A completed hello for the peer, without a check code.
void greet(Peer* peer) {
    UserMeta user;
    user.setNickname("fuzz");
    user.setIp(0x0100007F);
    user.setPort(4662);
    uint8_t buffer[512];
    i4_ram_file_class out(buffer, sizeof(buffer), 0);
    out.write_8(76);
    user.toNetwork(&out);
    out.write_32(0);
    out.write_16(0);
    i4_ram_file_class body(buffer, out.tell(), 0);
    body.read_8();
    peer->onFirstMessage(76, &body);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Peer* peer = peerfuzz::newPeer();
    greet(peer);
    size_t at = 0;
    while (at + 3 <= size) {
        uint8_t opcode = data[at];
        size_t length = data[at + 1] | static_cast<size_t>(data[at + 2]) << 8;
        at += 3;
        if (length > size - at) length = size - at;
        // The message within its own buffer, opcode first, as a frame holds it.
        std::vector<uint8_t> message(1 + length);
        message[0] = opcode;
        for (size_t i = 0; i < length; i++) message[1 + i] = data[at + i];
        at += length;
        i4_ram_file_class body(message.data(), static_cast<i4_pos>(message.size()), 0);
        body.read_8();
        bool keep = false;
        try {
            keep = peer->onMessage(opcode, &body);
        } catch (const i4_err&) {
        }
        // No reference or use is left behind, whatever the message did.
        for (auto& download : peerfuzz::sides->downloads.downloads)
            if (download->references != 0) __builtin_trap();
        if (peer->useCount() != 0) __builtin_trap();
        if (!keep) break;
    }
    delete peer;
    peerfuzz::sides->log.clear();
    return 0;
}

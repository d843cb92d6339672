// The first message of a peer connection (ICLT_HELLO or ICLT_HELLO_ANSWER,
// chosen by the first byte) from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/peer_world.h"
#include "v4ada/file/ram_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    peerfuzz::makeWorld();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    uint8_t opcode = data[0] & 1 ? 1 : 76;
    // The message buffer as a frame holds it: opcode first.
    uint8_t* message = new uint8_t[size];
    message[0] = opcode;
    for (size_t i = 1; i < size; i++) message[i] = data[i];
    i4_ram_file_class body(message, static_cast<i4_pos>(size), 0);
    body.read_8();
    Peer* peer = peerfuzz::newPeer();
    try {
        if (peer->onFirstMessage(opcode, &body)) {
            // A completed hello is listed once and reads back a sane user.
            if (!clientPool()->contains(peer)) __builtin_trap();
            (void)peer->name();
            OwnedString status;
            peer->status(status);
        }
    } catch (const i4_err&) {
    }
    delete peer;
    if (clientPool()->peerCount() != 0) __builtin_trap();
    delete[] message;
    peerfuzz::sides->log.clear();
    return 0;
}

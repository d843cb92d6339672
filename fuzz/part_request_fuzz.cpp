// Part requests and their neighbours from one peer, as its messages reach
// the peer protocol's dispatch with the upload pool installed; the
// client's packets go out over a scripted socket between messages. Each
// input is a run of records [u8 kind | fields]:
//   kind % 4 == 0: ICLT_PART_REQUEST  u8 file | 24 bytes of ranges
//   kind % 4 == 1: ICLT_UPLOAD_REQUEST u8 file
//   kind % 4 == 2: ICLT_SLOT_RELEASE
//   kind % 4 == 3: u8 services of the socket (mod 16), then a pool tick of
//                  2001 ms
// where file % 3 is a shared file on disk, a partial download without a
// download behind it, or a file not shared.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/net/peer_event_handler.h"
#include "core/options/core_options.h"
#include "support/files.h"
#include "support/peer_fakes.h"
#include "support/peer_link.h"
#include "support/temp_dir.h"
#include "support/upload_fakes.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/iclt_opcodes.h"
#include "transfer/peer/peer.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"
#include "v4ada/file/ram_file.h"

namespace {

// The peer pool's events go to the pool of the input being run.
class CurrentPool : public PeerEventHandler {
public:
    void peerClosed(TCPConnection* connection) override {
        if (pool) pool->peerClosed(connection);
    }
    void newPeer(TCPConnection* connection) override {
        if (pool) pool->newPeer(connection);
    }
    UploadPool* pool = nullptr;
};

CurrentPool current;
support::TempDir* scratch = nullptr;
support::RecordingSides* sides = nullptr;
support::RecordingUploadHub* hub = nullptr;
UniqueID files[3];

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    CoreOptions::createInstance();
    coreOptions()->newIdentity();
    ClientPool::createInstance();
    TransferOptions::createInstance();
    clientPool()->addHandler(&current);
    scratch = new support::TempDir("/tmp");
    sides = new support::RecordingSides();
    hub = new support::RecordingUploadHub();
    hub->hashed = true;
    for (int i = 0; i < 3; i++) files[i] = support::hashOf(static_cast<uint8_t>(0x40 + i));
    std::string bytes(65536, 'u');
    support::write_file(*scratch / "shared.bin", bytes);
    sides->shares.share(files[0], 65536, "shared.bin", scratch->path());
    sides->shares.share(files[1], 65536, "partial.bin", "");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UploadPool pool;
    current.pool = &pool;
    setPeerUploads(&pool);
    {
        support::PeerLink link;
        Peer* peer = link.open(support::makeUser("fuzz", 0x0A000001, 4662, 9));
        size_t at = 0;
        while (at < size) {
            uint8_t kind = data[at++] % 4;
            if (kind == 3) {
                int services = at < size ? data[at++] % 16 : 0;
                for (int i = 0; i < services; i++) link.serve();
                pool.tick(2001);
                continue;
            }
            if (kind == 2) {
                uint8_t message[1] = {ICLT_SLOT_RELEASE};
                i4_ram_file_class body(message, 1, 0);
                body.read_8();
                peer->onMessage(ICLT_SLOT_RELEASE, &body);
                continue;
            }
            if (at >= size) break;
            const UniqueID& hash = files[data[at++] % 3];
            std::vector<uint8_t> message{kind == 0 ? ICLT_PART_REQUEST : ICLT_UPLOAD_REQUEST};
            message.insert(message.end(), hash.bytes(), hash.bytes() + 16);
            if (kind == 0) {
                // Whatever is left of the 24 bytes: a short message fails.
                size_t take = size - at < 24 ? size - at : 24;
                message.insert(message.end(), data + at, data + at + take);
                at += take;
            }
            i4_ram_file_class body(message.data(), static_cast<i4_pos>(message.size()), 0);
            body.read_8();
            try {
                peer->onMessage(message[0], &body);
            } catch (const i4_err&) {
            }
        }
        for (int i = 0; i < 4; i++) link.serve();
    }
    setPeerUploads(nullptr);
    current.pool = nullptr;
    pool.shutdown();
    sides->log.clear();
    hub->log.clear();
    return 0;
}

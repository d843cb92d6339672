// What the peer fuzz targets share: the process-wide objects a Peer
// reaches (options with an identity, the peer pool, the transfer options,
// recording sides with one download and one shared file under the all-zero
// hash), made once, and a peer without a socket to feed messages to.
#pragma once

#include <cstdint>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "support/peer_fakes.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"

namespace peerfuzz {

inline support::RecordingSides* sides = nullptr;

inline void makeWorld() {
    initSpecialTags();
    set_debug_output(nullptr);
    CoreOptions::createInstance();
    coreOptions()->newIdentity();
    ClientPool::createInstance();
    TransferOptions::createInstance();
    sides = new support::RecordingSides();
    sides->downloads.add(support::hashOf(0), 2 * 9728000ull);
    sides->shares.share(support::hashOf(0), 1000, "f", "/d");
    sides->shares.share(support::hashOf(1), 1000, "g", "");
}

// An accepted peer without a socket: what it sends stays queued.
inline Peer* newPeer() { return new Peer(static_cast<i4_socket*>(nullptr)); }

}  // namespace peerfuzz

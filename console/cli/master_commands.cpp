#include "console/cli/master_commands.h"

#include <unistd.h>

#include <cstdio>
#include <vector>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "core/meta/file_list.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "core/options/core_options.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer_door.h"
#include "v4ada/digest/md4.h"

namespace {

// The last bit of a 16-byte identifier (bit 127): the lowest bit of its
// last byte.
constexpr int kLastByte = kUniqueIdSize - 1;
constexpr uint8_t kLowestBit = 0x01;

void setOwnHash(char* line, bool flipLastBit) {
    CommandWords words(line);
    CoreOptions* options = coreOptions();
    if (!words.at(1) || !options) return;
    UniqueID hash;
    md4String(hash.bytes(), words.at(1));
    if (flipLastBit) hash.bytes()[kLastByte] ^= kLowestBit;
    options->setOwnUserHash(hash);
}

}  // namespace

void fake_command(char* line) {
    CommandWords words(line);
    const char* ip = nullptr;
    int port = 0;
    if (!addressWords(words, &ip, &port)) return;
    FlockGateway* gateway = flockGateway();
    TransferGateway* hub = transferGateway();
    if (!gateway || !hub) return;
    OwnedString location;
    location.format(kLocationFormat, ip, port);
    std::vector<UniqueID> hashes;
    {
        LLsafe* list = hub->sharedFiles()->list();
        LLsafeGuard guard(list);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(list, &cursor)) hashes.push_back(static_cast<FileMeta*>(element)->fileHash());
    }
    for (const UniqueID& hash : hashes) {
        Service service;
        service.serviceId = hash;
        service.set(kLocationTag, location.c_str(), kTagString);
        gateway->publish(&service, false, 1.0);
    }
}

void killport_command(char*) { closePeerDoor(); }

// Nothing is saved and no thread is waited for: exit handlers would tear
// down objects the task and worker threads still use.
void exit_command(char*) {
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(kExitCommandStatus);
}

void fcon_command(char* line) {
    CommandWords words(line);
    const char* ip = nullptr;
    int port = 0;
    if (!addressWords(words, &ip, &port)) return;
    ClientPool* pool = clientPool();
    if (!pool) return;
    UserMeta user;
    user.setIp(ipFromText(ip));
    user.setPort(static_cast<uint16_t>(port));
    Peer* connected = nullptr;
    pool->connect(&user, &connected, false);
}

void setid_command(char* line) { setOwnHash(line, false); }

void setid_plus_command(char* line) { setOwnHash(line, true); }

void see_command(char*) {
    if (FlockGateway* gateway = flockGateway()) gateway->ui().setSee(true);
}

#include "overlay/gateway/network_gateway.h"

#include <atomic>

#include "core/options/core_options.h"

namespace {

std::atomic<NetworkGateway*> gGateway{nullptr};

// The base answers, from the options' own record.
uint32_t optionsOwnIp() { return coreOptions() ? coreOptions()->ownIP() : 0; }
int optionsTcpPort() { return coreOptions() ? coreOptions()->tcpPort() : 0; }
uint32_t optionsBuddyIp() { return coreOptions() ? coreOptions()->buddyIP() : 0; }
int optionsBuddyPort() { return coreOptions() ? coreOptions()->buddyPort() : 0; }

}  // namespace

NetworkGateway* networkGateway() { return gGateway.load(); }

NetworkGateway* setNetworkGateway(NetworkGateway* gateway) { return gGateway.exchange(gateway); }

bool NetworkGateway::askCallback(UserMeta*) { return false; }

void NetworkGateway::publishFile(FileMeta*) {}

bool NetworkGateway::addServer(uint32_t, int) { return false; }

void NetworkGateway::republishAll() {}

bool NetworkGateway::isUnreachable(const UserMeta*) { return true; }

int NetworkGateway::setFirewalled(int verdict) { return verdict; }

void NetworkGateway::retestFirewall() {}

void NetworkGateway::setBuddy(uint32_t ip, int port, int) {
    CoreOptions* options = coreOptions();
    if (!options) return;
    options->setBuddyIP(ip);
    options->setBuddyPort(static_cast<uint16_t>(port));
}

uint32_t NetworkGateway::ownIp() { return optionsOwnIp(); }

int NetworkGateway::tcpPort() { return optionsTcpPort(); }

uint32_t NetworkGateway::buddyIp() { return optionsBuddyIp(); }

int NetworkGateway::buddyPort() { return optionsBuddyPort(); }

uint32_t gatewayBuddyIp() {
    NetworkGateway* gateway = networkGateway();
    return gateway ? gateway->buddyIp() : optionsBuddyIp();
}

int gatewayBuddyPort() {
    NetworkGateway* gateway = networkGateway();
    return gateway ? gateway->buddyPort() : optionsBuddyPort();
}

int gatewayTcpPort() {
    NetworkGateway* gateway = networkGateway();
    return gateway ? gateway->tcpPort() : optionsTcpPort();
}

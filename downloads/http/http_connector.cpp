#include "downloads/http/http_connector.h"

#include <atomic>
#include <memory>

#include "v4ada/net/address.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"

namespace {

std::atomic<HttpConnector*> gInstalled{nullptr};

}  // namespace

i4_socket* connect_http_direct(const char* host, int port, HttpConnectAttempt& attempt,
                               HttpConnectAttempt::Outcome* outcome) {
    *outcome = HttpConnectAttempt::Outcome::kFailed;
    std::unique_ptr<i4_protocol> protocol(i4_tcpip_protocol::create(0, nullptr));
    std::unique_ptr<i4_address> address(protocol->resolve(host));
    if (!address) {
        *outcome = HttpConnectAttempt::Outcome::kNoHost;
        return nullptr;
    }
    address->setPort(port);
    std::unique_ptr<i4_socket> socket(protocol->connect(address.get(), kSocketStream, false));
    if (!socket || !attempt.watch(socket.get())) return nullptr;
    int ready = socket->waitUntil(kWritable, kHttpConnectLimitMs, nullptr);
    attempt.unwatch();
    if (!(ready & kWritable) || (ready & kReadyError)) return nullptr;
    // Only a connected socket has a peer.
    std::unique_ptr<i4_tcpip_address> peer(socket->peerAddress());
    if (!peer) return nullptr;
    *outcome = HttpConnectAttempt::Outcome::kConnected;
    return socket.release();
}

HttpConnector* httpConnector() { return gInstalled.load(); }

HttpConnector* setHttpConnector(HttpConnector* connector) { return gInstalled.exchange(connector); }

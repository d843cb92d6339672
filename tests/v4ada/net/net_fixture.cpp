#include "v4ada/net/net_fixture.h"

#include <arpa/inet.h>

#include "v4ada/file/debug_file.h"
#include "v4ada/memory/malloc4.h"

namespace nettest {

std::unique_ptr<i4_tcpip_address> loopback(int port) {
    const uint8_t ip[4] = {127, 0, 0, 1};
    return std::make_unique<i4_tcpip_address>(ip, port);
}

i4_tcpip_protocol* loopback_protocol(const ProxySettings* settings) {
    i4_tcpip_protocol* protocol = i4_tcpip_protocol::create(0, settings);
    protocol->setBindAddress(htonl(INADDR_LOOPBACK));
    return protocol;
}

Listener::Listener() : protocol_(loopback_protocol(nullptr)) {
    socket_.reset(protocol_->listen(0, 0, kSocketStream, nullptr));
    if (socket_) {
        std::unique_ptr<i4_tcpip_address> local(socket_->localAddress());
        port_ = local->port();
    }
}

DebugCapture::DebugCapture() : previous_(debug_output()) { set_debug_output(&file_); }

DebugCapture::~DebugCapture() {
    set_debug_output(previous_);
    i4_free(file_.data());
}

std::string DebugCapture::text() {
    return std::string(reinterpret_cast<const char*>(file_.data()), file_.size());
}

}  // namespace nettest

// Helpers of the core network tests: scripted sockets, socket sets and
// protocols, fake bandwidth settings, and the loopback network.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/net/bandwidth_settings.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/socket_set.h"

namespace coretest {

// A socket that plays scripted reads and datagrams and records writes.
class FakeSocket : public i4_socket {
public:
    ~FakeSocket() override;

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    bool accept(i4_socket** out) override;
    int receiveFrom(void* buffer, int n, i4_address** from) override;
    int sendTo(const void* buffer, int n, const i4_address* to) override;
    int waitUntil(int flags, int timeoutMs, i4_progress* progress) override;
    void addToSet(i4_socket_set*, int flags) override { setFlags = flags; inSet = true; }
    void removeFromSet(i4_socket_set*) override { inSet = false; }
    int checkInSet(i4_socket_set*, int flags) override { return ready & flags; }
    bool close() override { closed = true; return true; }
    void setBlocking(bool blocking) override { this->blocking = blocking; }
    i4_tcpip_address* localAddress() override { return nullptr; }
    i4_tcpip_address* peerAddress() override { return nullptr; }

    std::deque<std::string> reads;     // one read takes at most the front piece
    bool peerClosed = false;           // reads give -1 once the script is empty
    std::string written;
    int writeLimit = -1;               // bytes one write takes; -1: all
    int writeResult = 0;               // -1 makes every write fail
    std::deque<std::string> datagrams;
    std::vector<std::string> sentDatagrams;
    int sendToResult = 0;              // used when not 0
    std::function<int(int flags, int timeoutMs)> onWait;
    int ready = 0;                     // what checkInSet reports
    int setFlags = 0;
    bool inSet = false;
    bool closed = false;
    bool blocking = true;
    bool* destroyed = nullptr;         // set to true by the destructor
};

// A socket set whose waits answer from a script (1 when it is empty).
class FakeSocketSet : public i4_socket_set {
public:
    int wait(int timeoutMs) override;
    std::deque<int> results;
    std::vector<int> timeouts;
};

// A protocol over fakes; resolve reads dotted text only.
class FakeProtocol : public i4_protocol {
public:
    const char* name() const override { return "fake"; }
    i4_socket_set* newSocketSet() override;
    i4_address* resolve(const char* host) override;
    i4_socket* connect(const i4_address* address, int type, bool wait) override;
    bool localHostInfo(HostInfo*) override { return false; }
    i4_socket* listen(int port, int timeoutMs, int type, const i4_address* target) override;

    FakeSocketSet* lastSet = nullptr;
    std::function<i4_socket*(const i4_address*)> onConnect;
    std::function<i4_socket*(int port, int type)> onListen;
};

struct FakeBandwidth : BandwidthSettings {
    double up = 0, down = 0, curUp = 0, curDown = 0, maxUp = 5.0, maxDown = 5.0;
    double uploadLimit() const override { return up; }
    double downloadLimit() const override { return down; }
    double currentUpRate() const override { return curUp; }
    double currentDownRate() const override { return curDown; }
    double maxUpSpeed() const override { return maxUp; }
    double maxDownSpeed() const override { return maxDown; }
    void setMaxUpSpeed(double speed) override { maxUp = speed; }
    void setMaxDownSpeed(double speed) override { maxDown = speed; }
};

// Installs a protocol as networkProtocol while it lives (restoring the
// previous one after) and resets the byte budgets both ways.
class ProtocolScope {
public:
    explicit ProtocolScope(std::shared_ptr<i4_protocol> protocol);
    ~ProtocolScope();

private:
    std::shared_ptr<i4_protocol> previous_;
};

// An output gateway that records printed and logged lines while it is
// the current one.
class CaptureUI : public UIGateway {
public:
    CaptureUI();
    ~CaptureUI() override;
    void vprint(const char* format, va_list args) override;
    void vprintRaw(const char* format, va_list args) override;
    void vlog(const char* format, va_list args) override;
    std::vector<std::string> printed;
    std::vector<std::string> logged;

private:
    UIGateway* previous_;
};

// A real protocol whose listen binds 127.0.0.1 only.
std::shared_ptr<i4_tcpip_protocol> loopbackProtocol();

// The local port of a socket made by the protocol.
int localPort(i4_socket* socket);
// A blocking TCP client connected to 127.0.0.1:port, or -1.
int rawConnect(int port);
// A UDP socket bound to 127.0.0.1 on an OS-chosen port.
int rawUdp(int* port);
// A TCP socket bound to 127.0.0.1 on an OS-chosen port without listening:
// while it is open, connects to that port are refused.
int rawRefusingTcp(int* port);
void rawSendTo(int fd, int port, const std::string& bytes);
// Waits up to timeoutMs for bytes and reads what there is ("" at the end
// or on time-out); *closed tells whether the peer closed.
std::string rawRead(int fd, int timeoutMs, bool* closed);
void rawWrite(int fd, const std::string& bytes);

// A frame: marker, u32 LE length, opcode, payload.
std::string frame(uint8_t opcode, const std::string& payload, uint8_t marker = 0xE3);
std::string le32(uint32_t value);

}  // namespace coretest

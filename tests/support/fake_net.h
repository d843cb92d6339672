// Scripted stand-ins for the network seams: a socket, a socket set and a
// protocol that touch no real network, byte budgets without limits, and a
// scope that installs a protocol as the process-wide one.
//
// FakeSocket serves both kinds of use: a stream (reads come from `reads`,
// writes collect in `written`) and a datagram endpoint (`datagrams` in,
// `sentDatagrams` out).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/net/bandwidth_settings.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/socket_set.h"

namespace support {

class FakeSocket : public i4_socket {
public:
    ~FakeSocket() override;

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    bool accept(i4_socket** out) override;
    int receiveFrom(void* buffer, int n, i4_address** from) override;
    int sendTo(const void* buffer, int n, const i4_address* to) override;
    int waitUntil(int flags, int timeoutMs, i4_progress* progress) override;
    void addToSet(i4_socket_set*, int flags) override {
        setFlags = flags;
        inSet = true;
    }
    void removeFromSet(i4_socket_set*) override { inSet = false; }
    int checkInSet(i4_socket_set*, int flags) override { return ready & flags; }
    void watchInSet(i4_socket_set*, int flags) override { setFlags = flags; }
    bool close() override {
        closed = true;
        return true;
    }
    void setBlocking(bool blocking) override { this->blocking = blocking; }
    i4_tcpip_address* localAddress() override { return nullptr; }
    // peerIp as an address (port 0); null while peerIp is 0.
    i4_tcpip_address* peerAddress() override;

    // Splits the stream into reads of at most `piece` bytes each.
    void queueReads(const std::string& stream, size_t piece);

    std::deque<std::string> reads;     // one read takes at most the front piece
    bool peerClosed = false;           // reads give -1 once the script is empty
    std::string written;
    int writeLimit = -1;               // bytes one write takes; -1: all
    int writeResult = 0;               // -1 makes every write fail
    std::deque<std::string> datagrams; // received from 127.0.0.1:datagramPort
    int datagramPort = 4000;
    std::vector<std::string> sentDatagrams;
    int sendToResult = 0;              // used when not 0
    int datagramRoom = -1;             // datagrams sendTo takes before it would block (0); -1: no end
    std::function<int(int flags, int timeoutMs)> onWait;
    int ready = 0;                     // what checkInSet reports
    int setFlags = 0;                  // what the set waits for
    bool inSet = false;
    bool closed = false;
    bool blocking = true;
    bool* destroyed = nullptr;         // set to true by the destructor
    uint32_t peerIp = 0;               // remote address a.b.c.d as 0xaabbccdd; 0: none
    std::deque<i4_socket*> acceptable; // what accept hands out, oldest first; owned until then
};

// A socket set whose waits answer from a script (1 when it is empty).
class FakeSocketSet : public i4_socket_set {
public:
    int wait(int timeoutMs) override;
    void setMask(int flags) override { mask = flags; }
    std::deque<int> results;
    std::vector<int> timeouts;
    std::vector<int> masks;  // the mask of each wait
    int mask = 7;
};

// A protocol over fakes; resolve reads dotted text only. Its socket sets
// are FakeSocketSets (the last one made is lastSet).
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

// Limits and rates as plain fields; no limit by default.
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

// Installs a protocol as the network protocol while it lives (restoring
// the previous one after) and resets the byte budgets both ways.
class ProtocolScope {
public:
    explicit ProtocolScope(std::shared_ptr<i4_protocol> protocol);
    ~ProtocolScope();
    ProtocolScope(const ProtocolScope&) = delete;
    ProtocolScope& operator=(const ProtocolScope&) = delete;

private:
    std::shared_ptr<i4_protocol> previous_;
};

}  // namespace support

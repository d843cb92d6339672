// Sockets: i4_socket, the network's i4_file, and its IPv4 implementation
// i4_tcpip_sock.
//
// Reads and writes map their results the same way: a count of bytes moved,
// 0 when the call would block (nothing moved), -1 when the peer closed the
// connection or the call failed.
//
// close() may be called from any thread while another thread is inside a
// call on the socket (accept, connect, a wait): the socket is shut down,
// which wakes the blocked thread at once, and the descriptor is closed
// exactly once, by the last thread to leave the socket. Once closed, every
// later call is refused before it reaches the system.
//
// Deleting a socket closes it and waits until every thread inside one of
// its calls has left, so a socket shared with a blocked thread is ended by
// close (or closeAndWait) and delete from any thread; only calls begun
// after the delete started are the caller's fault.
#pragma once

#include <atomic>

#include "v4ada/file/file.h"
#include "v4ada/threads/linux/sys_condition.h"
#include "v4ada/threads/linux/sys_mutex.h"

class i4_address;
class i4_tcpip_address;
class i4_socket_set;

// Told how far a long wait has come, from just above 0 to 1.
class i4_progress {
public:
    virtual ~i4_progress() = default;
    virtual void update(float fraction) = 0;
};

class i4_socket : public i4_file {
public:
    ~i4_socket() override = default;

    i4_pos seek(i4_pos) override { return 0; }
    i4_pos size() override { return 0; }
    i4_pos tell() override { return 0; }

    virtual bool accept(i4_socket** out) = 0;
    virtual int receiveFrom(void* buffer, int n, i4_address** from) = 0;
    virtual int sendTo(const void* buffer, int n, const i4_address* to) = 0;
    virtual int waitUntil(int flags, int timeoutMs, i4_progress* progress) = 0;
    virtual void addToSet(i4_socket_set* set, int flags) = 0;
    virtual void removeFromSet(i4_socket_set* set) = 0;
    virtual int checkInSet(i4_socket_set* set, int flags) = 0;
    virtual bool close() = 0;
    virtual void setBlocking(bool blocking) = 0;
    virtual i4_tcpip_address* localAddress() = 0;
    virtual i4_tcpip_address* peerAddress() = 0;
};

constexpr int kSocketStream = 1;    // TCP
constexpr int kSocketDatagram = 0;  // UDP (any value other than 1)

class i4_tcpip_sock : public i4_socket {
public:
    // Messages taken from a datagram socket's error queue per check.
    static constexpr int kErrorQueueDrainLimit = 16;
    // Step of a wait with a progress object.
    static constexpr int kProgressStepMs = 100;

    // A new IPv4 socket: stream for type 1, datagram otherwise.
    explicit i4_tcpip_sock(int type);
    // Wraps an open descriptor (accepted connections).
    i4_tcpip_sock(int descriptor, int type);
    ~i4_tcpip_sock() override;
    i4_tcpip_sock(const i4_tcpip_sock&) = delete;
    i4_tcpip_sock& operator=(const i4_tcpip_sock&) = delete;

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;

    bool accept(i4_socket** out) override;
    int receiveFrom(void* buffer, int n, i4_address** from) override;
    int sendTo(const void* buffer, int n, const i4_address* to) override;
    int waitUntil(int flags, int timeoutMs, i4_progress* progress) override;
    void addToSet(i4_socket_set* set, int flags) override;
    void removeFromSet(i4_socket_set* set) override;
    int checkInSet(i4_socket_set* set, int flags) override;
    bool close() override;
    void setBlocking(bool blocking) override;
    i4_tcpip_address* localAddress() override;
    i4_tcpip_address* peerAddress() override;

    // Closes the socket and returns once no other thread is inside a call
    // on it. Destructors of this class and of its subclasses call it first.
    void closeAndWait();

    bool createFailed() const { return createFailed_; }
    int type() const { return type_; }
    int descriptor() const { return descriptor_; }
    bool isClosed() const { return closed_.load(); }

    // Gives up the descriptor (the object then owns none); used when a
    // proxy socket takes a plain one over. -1 for a closed socket.
    int releaseDescriptor();

    // Starts or makes a connect to the address, as one call on the socket.
    // 0 on success; otherwise the system's error code (EINPROGRESS for a
    // non-blocking start, ECANCELED when the socket was closed).
    int connectTo(const i4_tcpip_address* address);

    // Drains the error queue of a datagram socket (bounded, see above).
    void drainErrorQueue();

protected:
    // Brackets a whole public call: the object is not destroyed while a
    // thread is between its construction and its end.
    class CallScope {
    public:
        explicit CallScope(i4_tcpip_sock* socket);
        ~CallScope();
        CallScope(const CallScope&) = delete;
        CallScope& operator=(const CallScope&) = delete;

    private:
        i4_tcpip_sock* socket_;
    };

    // One poll of the descriptor as a call on the socket; the ready flags,
    // 0 at the time-out, when cancelled or when closed meanwhile.
    int pollOnce(int flags, int timeoutMs);

    // Every use of the descriptor is bracketed by enter/leave. enter fails
    // when the socket is closed; leave closes the descriptor when a close
    // came in meanwhile and this was the last user.
    bool enter();
    void leave();

private:
    SysMutex lock_;
    SysCondition idle_;                // calls_ dropped to 0
    int calls_ TS_GUARDED_BY(lock_) = 0;  // threads inside a public call
    int descriptor_ = -1;
    std::atomic<bool> closed_{false};  // no new calls once set
    bool released_ TS_GUARDED_BY(lock_) = false;  // the descriptor itself is closed
    int users_ TS_GUARDED_BY(lock_) = 0;  // calls in progress on the descriptor
    int type_ = kSocketStream;
    bool createFailed_ = false;
};

// The last socket error code of the platform; always 0 here.
int socket_last_error();

// Milliseconds of the monotonic clock.
long long net_monotonic_ms();

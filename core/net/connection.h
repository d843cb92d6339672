// Connection: a socket served by the socket pool. The connection owns its
// socket and, from SocketPool::add on, is owned by the pool: it is attached
// once, ticked and served on the task thread, and deleted by detach when
// the pool lets it go.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class i4_socket;
class SocketPool;

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    // Closes and deletes the socket.
    virtual ~Connection();

    // The clock step, with the milliseconds since the previous one.
    virtual void tick(int elapsedMs);
    // Serves the socket after the pool's wait; true when work was done.
    virtual bool doTask() = 0;
    // Registers the socket in the pool's socket set (readable, writable,
    // error); false without a socket or when attached before.
    virtual bool attach(SocketPool* pool);
    // Takes the socket out of the pool's set, then deletes this object.
    virtual void detach();
    virtual const char* status(OwnedString& out);
    // The readiness the pool's wait looks for on this socket: all by
    // default; a connection with nothing to send leaves writable out, so
    // that an idle socket does not end every wait.
    virtual int wantedFlags() { return kServeFlags; }
    // Task thread, before the pool's wait: hands a change of wantedFlags
    // to the socket set.
    void refreshWatch();

    i4_socket* socket() const { return socket_; }
    SocketPool* pool() const { return pool_; }
    int32_t bytesSent() const { return sent_; }
    int32_t bytesReceived() const { return received_; }

    // Readiness flags asked of the pool's set by every service.
    static constexpr int kServeFlags = 7;

protected:
    // Takes ownership of the socket (replacing none).
    void setSocket(i4_socket* socket) { socket_ = socket; }
    void countSent(int count) { if (count > 0) sent_ += count; }
    void countReceived(int count) { if (count > 0) received_ += count; }

    bool attachable_ = true;
    SocketPool* pool_ = nullptr;
    i4_socket* socket_ = nullptr;
    int32_t sent_ = 0;      // since the last clock step
    int32_t received_ = 0;  // since the last clock step
    int watched_ = kServeFlags;  // what the set waits for
};

// TCPConnection: a connection that speaks in frames. Incoming frames are
// assembled and handed to the subclass (the first message separately);
// outgoing frames wait in a locked send queue. Each service reads, then
// sends, until the socket would block, the pool's byte budget is spent or
// kServiceByteCap bytes have gone that way, so one fast connection moves
// what the link takes without holding the task thread from the others.
#pragma once

#include <cstdint>

#include "core/net/clocked_connection.h"
#include "core/net/door_lobby.h"
#include "core/net/tcp_read_packet.h"
#include "v4ada/containers/ll_safe.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/string/owned_string.h"

class TCPPacket;

class TCPConnection : public ClockedConnection {
public:
    // Time an outgoing connect may take to become writable.
    static constexpr int kConnectTimeoutMs = 8000;
    // Bytes one service reads at most, and sends at most.
    static constexpr int kServiceByteCap = 256 * 1024;

    // An outgoing connection, without a socket until connect.
    TCPConnection(uint32_t remoteIp, int remotePort, uint8_t marker);
    // An accepted connection on the socket (owned from here on).
    TCPConnection(i4_socket* socket, uint8_t marker);
    // Deletes every queued packet; the base closes the socket.
    ~TCPConnection() override;

    bool doTask() override;
    // Attaches; an outgoing connection then hears connected().
    bool attach(SocketPool* pool) override;
    const char* status(OwnedString& out) override;
    // Writable only while something waits to be sent (or the connection
    // is to be dropped at its next service).
    int wantedFlags() override;

    // The message handlers get the body positioned after the opcode; the
    // view ends with the frame. False drops the connection.
    virtual bool onMessage(uint8_t opcode, i4_ram_file_class* body);
    virtual bool onFirstMessage(uint8_t opcode, i4_ram_file_class* body);
    virtual TCPConnection* makeConnection(i4_socket*) { return nullptr; }
    virtual void connected() {}
    virtual void connectFailed() {}
    virtual const char* name() { return ipText_.c_str(); }

    // Any thread: the connection owns the packet from here on.
    void queue(TCPPacket* packet);
    // Everything queued before is sent, then the connection is dropped.
    void closeAfterFlush();
    // Opens the outgoing connection and hands it to the pool (connect
    // threads only). False when it fails; connectFailed() was called.
    bool connect(SocketPool* pool);
    // The connect without the hand-over: true once the socket is
    // connected (or was there already); the caller then adds the
    // connection to its pool.
    bool open();

    uint32_t remoteIp() const { return remoteIp_; }
    int remotePort() const { return remotePort_; }
    bool outgoing() const { return outgoing_; }
    int queuedPackets() { return sendQueue_.count(); }
    // Set by a subclass: the connection is dropped at its next service.
    void markCloseNow() { closeNow_ = true; }
    // The connect time-out (tests shorten it).
    void setConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    // The place of an accepted connection in its door's lobby until the
    // subclass admits it (leave) or the connection goes.
    LobbySeat& lobbySeat() { return lobbySeat_; }

protected:
    // The rule for the frames to come (TCPReadPacket::setRule); it holds
    // until changed.
    void setFrameRule(uint32_t maxLength, int onlyOpcode) { readPacket_.setRule(maxLength, onlyOpcode); }
    // Lets the pool drop this connection (any time on the task thread).
    void drop();
    // For a subclass that learns the remote address from its messages:
    // the address and its dotted text.
    void setRemoteIp(uint32_t ip);
    // The socket's remote address; 0 without a socket or when unknown.
    uint32_t socketPeerIp();

private:
    // One read; *got takes the bytes it took off the socket. False once
    // the connection is being dropped.
    bool readStep(int* got);
    // One send of the head packet; *wrote takes the bytes written. True
    // when the packet went out whole.
    bool sendStep(int* wrote);

    bool outgoing_ = false;
    bool firstSeen_ = false;
    bool closeNow_ = false;
    TCPReadPacket readPacket_;
    LLsafe sendQueue_;
    uint32_t remoteIp_ = 0;
    int32_t remotePort_ = 0;
    OwnedString ipText_;
    int connectTimeoutMs_ = kConnectTimeoutMs;
    LobbySeat lobbySeat_;
};

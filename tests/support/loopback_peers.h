// Peers on 127.0.0.1 that run in a thread of their own, built on plain
// sockets: a scripted peer and an echo server. Both listen on an OS-chosen
// port that stays bound for their whole life.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace support {

// Accepts one connection and plays the steps in order; then, with echo
// set, echoes everything until the peer closes.
class ScriptedPeer {
public:
    struct Step {
        enum Kind { kExpect, kSend, kPause, kClose } kind;
        std::string bytes;
        int ms = 0;
    };
    static Step expect(std::string bytes) { return {Step::kExpect, std::move(bytes), 0}; }
    static Step send(std::string bytes) { return {Step::kSend, std::move(bytes), 0}; }
    static Step pause(int ms) { return {Step::kPause, "", ms}; }
    static Step close() { return {Step::kClose, "", 0}; }

    ScriptedPeer(std::vector<Step> steps, bool echo);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;
    int port() const { return port_; }
    // Waits for the script to end; what went wrong, or "" (also "" when no
    // connection ever came and none was expected).
    std::string finish();
    bool connected() const { return connected_.load(); }

private:
    void run();
    std::vector<Step> steps_;
    bool echo_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> connected_{false};
    std::string problem_;
    std::thread thread_;
    int stopPipe_[2] = {-1, -1};
};

// Echoes every connection's bytes back (one connection at a time).
class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;
    int port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace support

// Running outside programs (proxy daemons, a second client) on a port of
// their own, without the race of closing an OS-chosen port and handing its
// number on: the port is leased under a machine-wide lock until the
// program listens on it.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace support {

// A port number free for TCP and UDP on this machine that no other lease,
// in any process, hands out while this one is held. Ports come from below
// the range the OS picks ports from, so no OS-chosen port can take it
// either. Hold the lease until the program given the port listens on it.
class PortLease {
public:
    PortLease();  // port() is 0 when no port could be leased
    ~PortLease();
    PortLease(const PortLease&) = delete;
    PortLease& operator=(const PortLease&) = delete;

    int port() const { return port_; }
    // Ends the lease (the destructor does too).
    void release();

private:
    int lockFd_ = -1;
    int port_ = 0;
};

// Whether a TCP connect to 127.0.0.1:port succeeds.
bool accepts_connections(int port);

// The full path of an installed program ("" when there is none) among the
// usual system directories.
std::string find_program(const char* name);

// A program run in its own process group with its configuration and log
// in a scratch directory; the group is stopped when the object goes.
class Daemon {
public:
    struct Setup {
        std::string program;     // full path
        std::string configName;  // file name of the configuration in dir()
        // "@DIR@" and "@PORT@" in the configuration and arguments are
        // replaced by the scratch directory and the leased port.
        std::string config;
        std::vector<std::string> args;
    };

    // Starts the program on a leased port and waits until it accepts
    // connections there, trying another port (up to `attempts`) when it
    // ends without listening. Never null; ready() tells whether it worked.
    static std::unique_ptr<Daemon> start(const Setup& setup, int attempts = 5);

    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    bool ready() const { return ready_; }
    int port() const { return port_; }
    const std::string& dir() const { return dir_.path(); }
    // Standard output and error of every attempt so far.
    std::string log() const;

private:
    Daemon() = default;
    // One attempt on the port; true once it listens.
    bool run(const Setup& setup, int port);
    void stop();

    TempDir dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::string earlierLogs_;
};

}  // namespace support

// HttpConnectAttempt: the record one connect thread fills for its HTTP
// source. The thread and the source share it (the last one to let go frees
// it); everything in it is read and written under its lock, so the thread
// never touches the source, and the source never waits for the thread.
//
// The source may abandon the attempt at any time (reset, stop, deletion):
// a socket still connecting is closed at once (which wakes the thread),
// and whatever the thread makes afterwards it closes and deletes itself.
#pragma once

#include <memory>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class i4_socket;

class HttpConnectAttempt {
public:
    enum class Outcome {
        kPending,
        kConnected,
        kBadUrl,     // the URL cannot be split: trying again will not help
        kNoHost,     // the host does not resolve
        kFailed,     // refused, unreachable or timed out
    };

    // What the thread found: the URL's parts and the connected socket.
    struct Result {
        Outcome outcome = Outcome::kPending;
        OwnedString host;
        OwnedString path;
        OwnedString urlFile;
        int port = 0;
        i4_socket* socket = nullptr;  // owned by whoever holds the result
    };

    explicit HttpConnectAttempt(const char* url) : url_(url) {}
    ~HttpConnectAttempt();
    HttpConnectAttempt(const HttpConnectAttempt&) = delete;
    HttpConnectAttempt& operator=(const HttpConnectAttempt&) = delete;

    // The URL to connect to (fixed for the attempt's life).
    const char* url() const { return url_.c_str(); }

    // --- the connect thread ---
    // The socket now connecting: an abandon closes it. False when the
    // attempt was abandoned already (the caller closes the socket).
    bool watch(i4_socket* socket);
    // Done waiting: from now on the thread alone deals with the socket.
    void unwatch();
    // Stores the result. An abandoned attempt's socket is closed and
    // deleted here instead.
    void finish(Result result);

    // --- the source ---
    bool done();
    // The result (once done), handed over to the caller.
    Result take();
    // No result is wanted any more.
    void abandon();

private:
    const OwnedString url_;
    SysMutex lock_;
    bool abandoned_ TS_GUARDED_BY(lock_) = false;
    bool done_ TS_GUARDED_BY(lock_) = false;
    i4_socket* connecting_ TS_GUARDED_BY(lock_) = nullptr;
    Result result_ TS_GUARDED_BY(lock_);
};

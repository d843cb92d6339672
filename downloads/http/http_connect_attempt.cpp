#include "downloads/http/http_connect_attempt.h"

#include "v4ada/net/socket.h"

HttpConnectAttempt::~HttpConnectAttempt() { delete result_.socket; }

bool HttpConnectAttempt::watch(i4_socket* socket) {
    SysMutexGuard guard(&lock_);
    if (abandoned_) return false;
    connecting_ = socket;
    return true;
}

void HttpConnectAttempt::unwatch() {
    SysMutexGuard guard(&lock_);
    connecting_ = nullptr;
}

void HttpConnectAttempt::finish(Result result) {
    i4_socket* unwanted = nullptr;
    {
        SysMutexGuard guard(&lock_);
        connecting_ = nullptr;
        done_ = true;
        if (abandoned_) {
            unwanted = result.socket;
            result.socket = nullptr;
        }
        result_ = std::move(result);
    }
    if (unwanted) {
        unwanted->close();
        delete unwanted;
    }
}

bool HttpConnectAttempt::done() {
    SysMutexGuard guard(&lock_);
    return done_;
}

HttpConnectAttempt::Result HttpConnectAttempt::take() {
    SysMutexGuard guard(&lock_);
    Result out = std::move(result_);
    result_ = Result();
    return out;
}

void HttpConnectAttempt::abandon() {
    i4_socket* socket = nullptr;
    {
        SysMutexGuard guard(&lock_);
        abandoned_ = true;
        socket = result_.socket;
        result_.socket = nullptr;
        // A socket still connecting belongs to the thread: only closed,
        // which ends its wait; the thread deletes it.
        if (connecting_) connecting_->close();
    }
    if (socket) {
        socket->close();
        delete socket;
    }
}

#include "downloads/http/http_socket_connect_thread.h"

#include "downloads/http/http_connector.h"
#include "v4ada/error/error.h"
#include "v4ada/net/socket.h"
#include "v4ada/net/url.h"
#include "v4ada/string/cstring.h"

HttpSocketConnectThread::HttpSocketConnectThread(std::shared_ptr<HttpConnectAttempt> attempt)
    : attempt_(std::move(attempt)) {
    if (!attempt_) error_at(__FILE__, __LINE__)("couldn't make httpsocketconnecthread: source is null");
}

bool HttpSocketConnectThread::launch(const std::shared_ptr<HttpConnectAttempt>& attempt) {
    auto* thread = new HttpSocketConnectThread(attempt);
    if (thread->start()) return true;
    delete thread;
    HttpConnectAttempt::Result failed;
    failed.outcome = HttpConnectAttempt::Outcome::kFailed;
    attempt->finish(std::move(failed));
    return false;
}

void HttpSocketConnectThread::connectOnce(HttpConnectAttempt& attempt) {
    HttpConnectAttempt::Result result;
    OwnedString scheme;
    int port = kDefaultPort;
    if (!split_url(attempt.url(), &scheme, &result.host, &result.path, &result.urlFile, &port) ||
        i4_strcmp(scheme.c_str(), "http") != 0 || result.host.isEmpty() || port == 0) {
        result.outcome = HttpConnectAttempt::Outcome::kBadUrl;
        attempt.finish(std::move(result));
        return;
    }
    result.port = port;
    HttpConnectAttempt::Outcome outcome = HttpConnectAttempt::Outcome::kFailed;
    try {
        HttpConnector* connector = httpConnector();
        result.socket = connector ? connector->connect(result.host.c_str(), port, attempt, &outcome)
                                  : connect_http_direct(result.host.c_str(), port, attempt, &outcome);
    } catch (const i4_err&) {
        attempt.unwatch();
        outcome = HttpConnectAttempt::Outcome::kFailed;
    }
    if (result.socket && outcome != HttpConnectAttempt::Outcome::kConnected) {
        result.socket->close();
        delete result.socket;
        result.socket = nullptr;
    }
    result.outcome = result.socket ? HttpConnectAttempt::Outcome::kConnected
                     : outcome == HttpConnectAttempt::Outcome::kConnected ? HttpConnectAttempt::Outcome::kFailed
                                                                          : outcome;
    attempt.finish(std::move(result));
}

void HttpSocketConnectThread::run() {
    connectOnce(*attempt_);
    requestStop();
}

void HttpSocketConnectThread::onExit() { delete this; }

// Driving an HttpSource against a server on 127.0.0.1 that the test's own
// thread plays between the source's ticks: no server thread, so a script
// of requests and answers runs in a fixed order. Waits poll the server's
// socket for a millisecond between ticks, bounded by a generous deadline
// (a failure, never a pass).
//
//   HttpTestServer server;
//   SourcePump pump(source.get());
//   ASSERT_TRUE(server.accept(pump));
//   EXPECT_EQ(server.readRequest(pump), server.withPort(http_request("/f", 0, 399)));
//   server.send(pump, "HTTP/1.1 206 ...");
#pragma once

#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "downloads/http/http_connector.h"
#include "downloads/http/http_source.h"

// Ticks one source; remembers whether it answered false.
class SourcePump {
public:
    explicit SourcePump(HttpSource* source) : source_(source) {}
    // One tick (nothing once the source answered false); its answer.
    bool tick(int elapsedMs = 0);
    // Ticks until the condition holds or the source ended; false when the
    // deadline passed first.
    bool until(const std::function<bool()>& condition);
    // Ticks until the source answers false.
    bool toEnd() {
        return until([this] { return !alive_; });
    }
    bool alive() const { return alive_; }

private:
    HttpSource* source_;
    bool alive_ = true;
};

// The expected request for the range [first, last] (last included), to
// the test server unless another Host field is given ("@PORT@" stands for
// the server's port: compare with HttpTestServer::withPort of it).
std::string http_request(const std::string& path, uint64_t first, uint64_t last,
                         const std::string& host = "127.0.0.1:@PORT@");

// The file served in the tests: byte i is a function of i.
std::string test_content(uint64_t size);

class HttpTestServer {
public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>".
    std::string url(const std::string& path) const;
    // "@PORT@" replaced by the port.
    std::string withPort(std::string text) const;

    // The next connection (the one before is closed); false when none came.
    bool accept(SourcePump& pump);
    // One request (up to its empty line); what came when the connection
    // ended or the deadline passed first.
    std::string readRequest(SourcePump& pump);
    // Sends everything, ticking while the connection is full. False when
    // the source closed the connection meanwhile.
    bool send(SourcePump& pump, const std::string& bytes);
    void closeConnection();
    // Whether the source closed the connection (waits for it).
    bool sourceClosed(SourcePump& pump);

private:
    int listener_ = -1;
    int port_ = 0;
    int connection_ = -1;
    std::string pending_;  // read past the last request
};

// A connector that holds every connect until released, then connects to
// 127.0.0.1:<target> (or fails as an unknown host when target is 0).
// Install with setHttpConnector; it must outlive the connect threads.
class HeldConnector final : public HttpConnector {
public:
    i4_socket* connect(const char* host, int port, HttpConnectAttempt& attempt,
                       HttpConnectAttempt::Outcome* outcome) override;
    // Waits until count connects have begun; false after the deadline.
    bool waitEntered(int count);
    void release();
    // Waits until count connects have returned.
    bool waitReturned(int count);

    int target = 0;
    bool hold = true;
    std::string lastHost;
    int lastPort = 0;

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int entered_ = 0;
    int returned_ = 0;
    bool released_ = false;
};

// HttpSource against a server on 127.0.0.1 played by the test between the
// source's ticks (the connects run on real connect threads): one table of
// scripted exchanges, then the waits (busy answers, failed connects) and
// reset, stop and deletion while a connect is held.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "downloads/http/http_server_fixture.h"
#include "support/debug_capture.h"
#include "support/link_download_fake.h"
#include "support/loopback.h"
#include "v4ada/threads/linux/threads.h"

using support::FakeLinkDownload;
using support::Ranges;

namespace {

// One request and its answer. An answer is sent in the pieces given, the
// source ticking once after each.
struct Exchange {
    bool accept;  // on a new connection
    std::string request;
    std::vector<std::string> answer;
    bool close = false;  // the server closes afterwards
};

struct Case {
    const char* name;
    uint64_t size;
    Ranges ranges;  // handed out by the download, in order
    std::vector<Exchange> script;
    int endStatus;  // 0: nothing left to fetch; 6: failed
    Ranges written;
    Ranges returned;
    std::vector<int32_t> weights;
};

constexpr uint64_t kSize = 1000;
std::string body(uint64_t start, uint64_t end) { return test_content(kSize).substr(start, end - start); }

std::string head206(uint64_t start, uint64_t end, const std::string& extra = "", uint64_t size = kSize) {
    return "HTTP/1.1 206 Partial Content\r\nServer: test\r\nContent-Length: " + std::to_string(end - start) +
           "\r\nContent-Range: bytes " + std::to_string(start) + "-" + std::to_string(end - 1) + "/" +
           std::to_string(size) + "\r\n" + extra + "\r\n";
}

std::string full206(uint64_t start, uint64_t end, const std::string& extra = "") {
    return head206(start, end, extra) + body(start, end);
}

std::string ask(uint64_t start, uint64_t end, const std::string& path = "/f") {
    return http_request(path, start, end - 1);
}

std::vector<std::string> bytewise(const std::string& text) {
    std::vector<std::string> out;
    for (char c : text) out.emplace_back(1, c);
    return out;
}

std::vector<Exchange> repeated(int times, const Exchange& exchange) { return std::vector<Exchange>(times, exchange); }

const std::string kMoved = "HTTP/1.1 302 Found\r\nLocation: /g\r\nContent-Length: 5\r\n\r\nmoved";

std::vector<Case> cases() {
    const Ranges kFirst{{0, 400}};
    const Ranges kNone{};
    const std::vector<int32_t> kWeighed{+1, -1};
    const std::vector<int32_t> kUnweighed{};
    return {
        {"206, two ranges on one connection", kSize, {{0, 400}, {400, 1000}},
         {{true, ask(0, 400), {full206(0, 400)}}, {false, ask(400, 1000), {full206(400, 1000)}}},
         0, {{0, 1000}}, kNone, kWeighed},
        {"206 without Content-Length", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nContent-Range: bytes 0-399/1000\r\n\r\n" + body(0, 400)}}},
         0, kFirst, kNone, kUnweighed},
        {"206 with Content-Length 0 is not compared", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nContent-Length: 0\r\n\r\n" + body(0, 400)}}},
         0, kFirst, kNone, kUnweighed},
        {"206 with a wrong Content-Length", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nContent-Length: 399\r\n\r\n" + body(0, 399)}}},
         6, kNone, kFirst, kWeighed},
        {"206 for another range", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nContent-Range: bytes 1-400/1000\r\n\r\n" + body(1, 401)}}},
         6, kNone, kFirst, kUnweighed},
        {"206 for another file size", kSize, kFirst,
         {{true, ask(0, 400), {head206(0, 400, "", 999) + body(0, 400)}}}, 6, kNone, kFirst, kUnweighed},
        {"chunked", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nTransfer-Encoding: chunked\r\n\r\n190\r\n" + body(0, 400)}}},
         6, kNone, kFirst, kUnweighed},
        {"surplus body", kSize, kFirst, {{true, ask(0, 400), {full206(0, 400) + "X"}}}, 6, kNone, kFirst, kWeighed},
        {"surplus body after the range began", kSize, kFirst,
         {{true, ask(0, 400), {head206(0, 400) + body(0, 100)}},
          {false, "", {body(100, 400) + "XYZ"}}},
         6, {{0, 100}}, {{100, 400}}, kWeighed},
        {"header in 1-byte writes", kSize, kFirst,
         {{true, ask(0, 400), [] {
               auto pieces = bytewise(head206(0, 400));
               pieces.push_back(body(0, 400));
               return pieces;
           }()}},
         0, kFirst, kNone, kWeighed},
        {"header over 10,240 bytes", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 206 OK\r\nX-Pad: " + std::string(10300, 'a') + "\r\n\r\n" + body(0, 400)}}},
         6, kNone, kFirst, kUnweighed},
        {"status without a number", kSize, kFirst, {{true, ask(0, 400), {"HTTP/1.1 OK\r\n\r\n"}}}, 6, kNone, kFirst,
         kUnweighed},
        {"status line of another protocol", kSize, kFirst, {{true, ask(0, 400), {"ICY 200 OK\r\n\r\n"}}}, 6, kNone,
         kFirst, kUnweighed},
        {"answer 404", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}}}, 6, kNone, kFirst,
         kUnweighed},
        {"200 for 9,727,999 bytes is the whole file", 9727999, {{0, 486400}},
         {{true, ask(0, 486400),
           {"HTTP/1.1 200 OK\r\nContent-Length: 9727999\r\n\r\n", test_content(9727999)}}},
         0, {{0, 9727999}}, kNone, kWeighed},
        {"200 for 9,728,000 bytes fails", 9728000, {{0, 486400}},
         {{true, ask(0, 486400), {"HTTP/1.1 200 OK\r\nContent-Length: 9728000\r\n\r\n"}}}, 6, kNone,
         {{0, 486400}}, kUnweighed},
        {"close mid-body: the rest on a new connection", kSize, kFirst,
         {{true, ask(0, 400), {head206(0, 400) + body(0, 150)}, true}, {true, ask(150, 400), {full206(150, 400)}}},
         0, kFirst, kNone, kWeighed},
        {"Connection: close: the next range on a new connection", kSize, {{0, 400}, {400, 1000}},
         {{true, ask(0, 400), {full206(0, 400, "Connection: close\r\n")}, true},
          {true, ask(400, 1000), {full206(400, 1000)}}},
         0, {{0, 1000}}, kNone, kWeighed},
        {"relative redirect on the same connection, its page skipped", kSize, kFirst,
         {{true, ask(0, 400), {kMoved}}, {false, ask(0, 400, "/g"), {full206(0, 400)}}}, 0, kFirst, kNone,
         kWeighed},
        {"relative redirect without a length: a new connection", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 302 Found\r\nLocation: /g\r\n\r\nmoved"}},
          {true, ask(0, 400, "/g"), {full206(0, 400)}}},
         0, kFirst, kNone, kWeighed},
        {"relative redirect loop ends after 10", kSize, kFirst,
         repeated(11, {false, ask(0, 400), {"HTTP/1.1 302 Found\r\nLocation: /f\r\nContent-Length: 0\r\n\r\n"}}), 6,
         kNone, kFirst, kUnweighed},
        {"absolute redirect: a new connection", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:@PORT@/g\r\n\r\n"}},
          {true, ask(0, 400, "/g"), {full206(0, 400)}}},
         0, kFirst, kNone, kWeighed},
        {"absolute redirect loop ends after 10", kSize, kFirst,
         repeated(11, {true, ask(0, 400), {"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:@PORT@/f\r\n\r\n"}}),
         6, kNone, kFirst, kUnweighed},
        {"redirect without Location", kSize, kFirst, {{true, ask(0, 400), {"HTTP/1.1 302 Found\r\n\r\n"}}}, 6,
         kNone, kFirst, kUnweighed},
        {"redirect to another scheme", kSize, kFirst,
         {{true, ask(0, 400), {"HTTP/1.1 302 Found\r\nLocation: https://127.0.0.1/f\r\n\r\n"}}}, 6, kNone, kFirst,
         kUnweighed},
    };
}

class HttpSourceTest : public ::testing::Test {
protected:
    void TearDown() override { threads_wait_all(); }
    support::DebugCapture debug_;
};

TEST_F(HttpSourceTest, ScriptedServer) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        HttpTestServer server;
        FakeLinkDownload download(c.size);
        download.ranges.assign(c.ranges.begin(), c.ranges.end());
        std::string content = test_content(c.size);
        auto source = std::make_unique<HttpSource>(&download, server.url("/f").c_str());
        SourcePump pump(source.get());
        ASSERT_TRUE(source->resume());
        for (size_t i = 0; i < c.script.size(); i++) {
            const Exchange& exchange = c.script[i];
            SCOPED_TRACE("exchange " + std::to_string(i));
            if (exchange.accept || i == 0) {
                ASSERT_TRUE(server.accept(pump));
            }
            if (!exchange.request.empty()) {
                ASSERT_EQ(server.readRequest(pump), server.withPort(exchange.request));
            }
            for (const std::string& piece : exchange.answer) {
                server.send(pump, server.withPort(piece));
                pump.tick();
            }
            if (exchange.close) server.closeConnection();
        }
        ASSERT_TRUE(pump.toEnd());
        EXPECT_EQ(source->statusCode(), c.endStatus);
        EXPECT_EQ(support::merged(download.writes), c.written);
        EXPECT_TRUE(download.writtenMatches(content));
        EXPECT_EQ(download.returned, c.returned);
        EXPECT_TRUE(download.returnedCrumbs.empty());
        EXPECT_EQ(download.weightChanges, c.weights);
        source.reset();
        // Nothing is given back twice.
        EXPECT_EQ(download.returned, c.returned);
        EXPECT_EQ(download.weightChanges, c.weights);
    }
}

// Three busy answers in a row are waited out, longer each time; the
// fourth ends the source. Body data in between starts the count again.
TEST_F(HttpSourceTest, BusyAnswersAreWaitedOut) {
    std::srand(7);
    HttpTestServer server;
    FakeLinkDownload download(kSize);
    download.ranges = {{0, 400}};
    auto source = std::make_unique<HttpSource>(&download, server.url("/f").c_str());
    SourcePump pump(source.get());
    ASSERT_TRUE(source->resume());
    const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";
    auto waitsOut = [&](uint64_t from, int round) {
        SCOPED_TRACE("busy answer " + std::to_string(round));
        ASSERT_TRUE(server.accept(pump));
        ASSERT_EQ(server.readRequest(pump), server.withPort(ask(from, 400)));
        server.send(pump, busy);
        ASSERT_TRUE(pump.until([&] { return source->state() == HttpSource::kWait; }));
        EXPECT_EQ(source->statusCode(), HttpSource::kStatusAsked);
        EXPECT_EQ(source->busyCount(), round + 1);
        EXPECT_GE(source->waitMs(), 60000 + 5000 * round);
        EXPECT_LE(source->waitMs(), 118999 + 5000 * round);
        pump.tick(source->waitMs() - 1);
        EXPECT_EQ(source->state(), HttpSource::kWait);
        pump.tick(1);
        EXPECT_EQ(source->state(), HttpSource::kConnect);
    };
    waitsOut(0, 0);
    waitsOut(0, 1);
    ASSERT_TRUE(server.accept(pump));
    ASSERT_EQ(server.readRequest(pump), server.withPort(ask(0, 400)));
    server.send(pump, head206(0, 400) + body(0, 100));
    pump.tick();
    server.closeConnection();
    for (int round = 0; round < 3; round++) waitsOut(100, round);
    ASSERT_TRUE(server.accept(pump));
    ASSERT_EQ(server.readRequest(pump), server.withPort(ask(100, 400)));
    server.send(pump, busy);
    ASSERT_TRUE(pump.toEnd());
    EXPECT_EQ(source->statusCode(), HttpSource::kStatusFailed);
    EXPECT_EQ(download.writes, (Ranges{{0, 100}}));
    EXPECT_EQ(download.returned, (Ranges{{100, 400}}));
    EXPECT_NE(debug_.text().find("busy"), std::string::npos) << debug_.text();
}

// A server that stops sending, before its header is complete or after the
// first body bytes: 30 s on, the source has given its connection and the
// unread range back and waits as after a failed connect; then it asks for
// whatever range is free.
TEST_F(HttpSourceTest, AStalledAnswerGivesItsRangeBack) {
    struct Stall {
        const char* name;
        std::string sent;
        Ranges written;
        Ranges returned;
    } stalls[] = {
        {"in the header", "HTTP/1.1 206 Partial Content\r\n", {}, {{0, 400}}},
        {"in the body", head206(0, 400) + body(0, 100), {{0, 100}}, {{100, 400}}},
    };
    for (const Stall& stall : stalls) {
        SCOPED_TRACE(stall.name);
        HttpTestServer server;
        FakeLinkDownload download(kSize);
        download.ranges = {{0, 400}, {400, 1000}};
        auto source = std::make_unique<HttpSource>(&download, server.url("/f").c_str());
        SourcePump pump(source.get());
        ASSERT_TRUE(source->resume());
        ASSERT_TRUE(server.accept(pump));
        ASSERT_EQ(server.readRequest(pump), server.withPort(ask(0, 400)));
        server.send(pump, stall.sent);
        pump.tick();
        int reading = source->state();
        pump.tick(HttpSource::kStallLimitMs - 1);
        EXPECT_EQ(source->state(), reading);
        EXPECT_TRUE(download.returned.empty());
        pump.tick(1);
        EXPECT_EQ(source->state(), HttpSource::kWait);
        EXPECT_EQ(source->connectFailures(), 1);
        EXPECT_EQ(download.writes, stall.written);
        EXPECT_EQ(download.returned, stall.returned);
        EXPECT_TRUE(server.sourceClosed(pump));
        pump.tick(source->waitMs());
        ASSERT_TRUE(server.accept(pump));
        EXPECT_EQ(server.readRequest(pump), server.withPort(ask(400, 1000)));
    }
}

// A server that refuses, and a host that does not resolve: the source
// waits 5, 10, 20 and 40 s between attempts, and the fifth failure ends it.
TEST_F(HttpSourceTest, FailedConnectsBackOffThenEndTheSource) {
    int refusingPort = 0;
    int refusing = support::raw_refusing_tcp(&refusingPort);
    ASSERT_GE(refusing, 0);
    HeldConnector unknownHost;
    unknownHost.hold = false;
    struct Way {
        const char* name;
        std::string url;
        HttpConnector* connector;
        const char* message;
    } ways[] = {
        {"refused", "http://127.0.0.1:" + std::to_string(refusingPort) + "/f", nullptr, "cannot connect"},
        {"unknown host", "http://no.such.host.invalid/f", &unknownHost, "host not found"},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        setHttpConnector(way.connector);
        FakeLinkDownload download(kSize);
        download.ranges = {{0, 400}};
        auto source = std::make_unique<HttpSource>(&download, way.url.c_str());
        SourcePump pump(source.get());
        ASSERT_TRUE(source->resume());
        for (int failure = 1; failure < HttpSource::kMaxConnectFailures; failure++) {
            ASSERT_TRUE(pump.until([&] { return source->state() == HttpSource::kWait; }));
            EXPECT_EQ(source->statusCode(), HttpSource::kStatusConnecting);
            EXPECT_EQ(source->connectFailures(), failure);
            ASSERT_EQ(source->waitMs(), HttpSource::kRetryWaitMs[failure - 1]);
            pump.tick(source->waitMs() - 1);
            EXPECT_EQ(source->state(), HttpSource::kWait);
            pump.tick(1);
            EXPECT_EQ(source->state(), HttpSource::kConnect);
        }
        ASSERT_TRUE(pump.toEnd());
        EXPECT_EQ(source->statusCode(), HttpSource::kStatusFailed);
        EXPECT_TRUE(download.writes.empty());
        EXPECT_TRUE(download.returned.empty());
        EXPECT_NE(debug_.text().find(way.message), std::string::npos) << debug_.text();
        threads_wait_all();
        setHttpConnector(nullptr);
    }
    EXPECT_EQ(unknownHost.lastHost, "no.such.host.invalid");
    EXPECT_EQ(unknownHost.lastPort, 80);
    ::close(refusing);
}

// A connect thread held in its connect while the source lets go of it: by
// a reset, a stop, its deletion, or the source's own time limit. The
// source never waits for the thread, and the thread closes the socket it
// makes afterwards.
TEST_F(HttpSourceTest, SourceLetsGoOfAHeldConnect) {
    int listenPort = 0;
    int listener = support::raw_listen(&listenPort);
    ASSERT_GE(listener, 0);
    const char* actions[] = {"reset", "stop", "delete", "time limit"};
    for (const std::string action : actions) {
        SCOPED_TRACE(action);
        HeldConnector held;
        held.target = listenPort;
        setHttpConnector(&held);
        FakeLinkDownload download(kSize);
        auto source = std::make_unique<HttpSource>(&download, "http://example.org/f");
        SourcePump pump(source.get());
        ASSERT_TRUE(source->resume());
        pump.tick();
        ASSERT_TRUE(held.waitEntered(1));
        EXPECT_EQ(source->state(), HttpSource::kConnecting);
        if (action == "reset") {
            source->reset();
        } else if (action == "stop") {
            source->stop();
        } else if (action == "delete") {
            source.reset();
        } else {
            pump.tick(kHttpConnectLimitMs - 1);
            EXPECT_EQ(source->state(), HttpSource::kConnecting);
            pump.tick(1);
            EXPECT_EQ(source->state(), HttpSource::kWait);
            EXPECT_EQ(source->connectFailures(), 1);
        }
        if (source && action != "time limit") {
            EXPECT_EQ(source->state(), HttpSource::kStopped);
            EXPECT_EQ(source->statusCode(), HttpSource::kStatusStopped);
        }
        held.release();
        ASSERT_TRUE(held.waitReturned(1));
        // The connection the thread made is closed by the thread.
        pollfd entry{listener, POLLIN, 0};
        ASSERT_EQ(::poll(&entry, 1, 30000), 1);
        int accepted = ::accept(listener, nullptr, nullptr);
        ASSERT_GE(accepted, 0);
        bool closed = false;
        while (!closed && support::raw_read(accepted, 30000, &closed).size() > 0) {
        }
        EXPECT_TRUE(closed);
        ::close(accepted);
        threads_wait_all();
        if (source) {
            pump.tick();
            EXPECT_NE(source->state(), HttpSource::kSendRequest);
        }
        source.reset();
        setHttpConnector(nullptr);
    }
    ::close(listener);
}

// A pause gives back exactly the bytes not yet fetched; a download that
// completes while the source writes stops it there.
TEST_F(HttpSourceTest, ResetAndCompletionWhileDataArrives) {
    HttpTestServer server;
    FakeLinkDownload download(kSize);
    download.ranges = {{0, 400}, {400, 1000}};
    auto source = std::make_unique<HttpSource>(&download, server.url("/f").c_str());
    SourcePump pump(source.get());
    ASSERT_TRUE(source->resume());
    ASSERT_TRUE(server.accept(pump));
    ASSERT_EQ(server.readRequest(pump), server.withPort(ask(0, 400)));
    server.send(pump, head206(0, 400) + body(0, 150));
    ASSERT_TRUE(pump.until([&] { return source->position() == 150; }));
    source->reset();
    EXPECT_EQ(download.returned, (Ranges{{150, 400}}));
    EXPECT_EQ(source->state(), HttpSource::kStopped);
    EXPECT_TRUE(server.sourceClosed(pump));

    ASSERT_TRUE(source->resume());
    ASSERT_TRUE(server.accept(pump));
    ASSERT_EQ(server.readRequest(pump), server.withPort(ask(400, 1000)));
    download.afterWrite = [&] { source->stop(); };
    server.send(pump, full206(400, 1000));
    ASSERT_TRUE(pump.until([&] { return source->state() == HttpSource::kStopped; }));
    EXPECT_TRUE(server.sourceClosed(pump));
    for (int i = 0; i < 3; i++) pump.tick(10);
    EXPECT_TRUE(pump.alive());
    EXPECT_EQ(source->state(), HttpSource::kStopped);
    download.afterWrite = nullptr;
    source.reset();
    EXPECT_EQ(download.returned, (Ranges{{150, 400}}));
    EXPECT_EQ(download.weightChanges, (std::vector<int32_t>{+1, -1}));
}

// A URL without a path ends the source at once; blanks and control bytes
// in the path are escaped in the request line, never sent as they are.
TEST_F(HttpSourceTest, UnusualUrls) {
    FakeLinkDownload download(kSize);
    download.ranges = {{0, 400}};
    HttpSource pathless(&download, "http://127.0.0.1");
    SourcePump ends(&pathless);
    ASSERT_TRUE(pathless.resume());
    ASSERT_TRUE(ends.toEnd());
    EXPECT_EQ(pathless.statusCode(), HttpSource::kStatusFailed);
    EXPECT_EQ(pathless.connectFailures(), 0);

    HttpTestServer server;
    HttpSource odd(&download, server.url("/a b\r\nX: y").c_str());
    SourcePump pump(&odd);
    ASSERT_TRUE(odd.resume());
    ASSERT_TRUE(server.accept(pump));
    EXPECT_EQ(server.readRequest(pump), server.withPort(http_request("/a%20b%0D%0AX:%20y", 0, 399)));
}

// The Host field names the URL's port unless it is 80, so that a server
// with name-based hosts on another port finds the site. The connector
// takes every host to the test server, whatever port the URL names.
TEST_F(HttpSourceTest, HostFieldNamesAPortOtherThan80) {
    HttpTestServer server;
    HeldConnector anyHost;
    anyHost.hold = false;
    anyHost.target = server.port();
    setHttpConnector(&anyHost);
    const struct {
        const char* url;
        const char* host;
    } cases[] = {
        {"http://files.example/f", "files.example"},
        {"http://files.example:80/f", "files.example"},
        {"http://files.example:8080/f", "files.example:8080"},
        {"http://10.1.2.3:1/f", "10.1.2.3:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        FakeLinkDownload download(kSize);
        download.ranges = {{0, 400}};
        HttpSource source(&download, c.url);
        SourcePump pump(&source);
        ASSERT_TRUE(source.resume());
        ASSERT_TRUE(server.accept(pump));
        EXPECT_EQ(server.readRequest(pump), http_request("/f", 0, 399, c.host));
        source.reset();
    }
    threads_wait_all();
    setHttpConnector(nullptr);
}

}  // namespace

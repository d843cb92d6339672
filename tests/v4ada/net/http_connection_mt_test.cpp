#include "v4ada/net/http_connection.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <thread>

#include "support/loopback.h"
#include "support/loopback_peers.h"
#include "v4ada/threads/linux/counting_signal.h"

namespace {

using support::ScriptedPeer;

const std::string kRequest = "GET /links/a.txt HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

std::string url(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/links/a.txt"; }

TEST(HttpFetch, TakesTheBodyOfAnOkAnswerSentInPieces) {
    ScriptedPeer server({ScriptedPeer::expect(kRequest), ScriptedPeer::send("HTTP/1.0 200 OK\r\nContent-"),
                         ScriptedPeer::send("Type: text/plain\r\n\r\nvxt4://|file|a|1|"), ScriptedPeer::pause(20),
                         ScriptedPeer::send("00|"), ScriptedPeer::close()},
                        false);
    i4_HttpConnection http;
    OwnedString body("old");
    EXPECT_EQ(0, http.fetch(url(server.port()).c_str(), &body));
    EXPECT_STREQ("vxt4://|file|a|1|00|", body.c_str());
    EXPECT_EQ("", server.finish());

    ScriptedPeer sized({ScriptedPeer::expect(kRequest),
                        ScriptedPeer::send("HTTP/1.1 200 OK\r\ncontent-length:  3\r\n\r\nxyz"), ScriptedPeer::close()},
                       false);
    EXPECT_EQ(0, http.fetch(url(sized.port()).c_str(), &body));
    EXPECT_STREQ("xyz", body.c_str());
    EXPECT_EQ("", sized.finish());
}

TEST(HttpFetch, FailuresLeaveTheOutputAlone) {
    struct {
        const char* name;
        std::string answer;
    } cases[] = {
        {"not found", "HTTP/1.0 404 Not Found\r\n\r\nmissing"},
        {"not http", "SSH-2.0-x\r\n\r\n"},
        {"header never ends", "HTTP/1.0 200 OK\r\nX: y"},
        {"nothing", ""},
        {"cut short", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer server({ScriptedPeer::expect(kRequest), ScriptedPeer::send(c.answer), ScriptedPeer::close()},
                            false);
        i4_HttpConnection http;
        OwnedString body("old");
        EXPECT_EQ(-1, http.fetch(url(server.port()).c_str(), &body));
        EXPECT_STREQ("old", body.c_str());
        server.finish();
    }
    i4_HttpConnection http;
    OwnedString body("old");
    EXPECT_EQ(-1, http.fetch("ftp://127.0.0.1/x", &body));
    EXPECT_EQ(-1, http.fetch("no url", &body));
    EXPECT_STREQ("old", body.c_str());
}

// A listener whose accept queue is full drops further connection requests,
// so a blocking connect would retry for about two minutes: the time limit
// covers the connect as well.
TEST(HttpFetch, TimeLimitCoversTheConnect) {
    int port = 0;
    int listener = support::raw_listen(&port, 0);
    ASSERT_GE(listener, 0);
    int queued = support::raw_connect(port);  // fills the queue
    ASSERT_GE(queued, 0);

    i4_HttpConnection http(200);
    OwnedString body("old");
    int result = 0;
    CountingSignal done;
    std::thread fetcher([&] {
        result = http.fetch(url(port).c_str(), &body);
        done.signal();
    });
    EXPECT_TRUE(done.wait(60000)) << "a fetch limited to 200 ms still runs after a minute";
    fetcher.join();
    EXPECT_EQ(-1, result);
    EXPECT_STREQ("old", body.c_str());
    ::close(queued);
    ::close(listener);
}

}  // namespace

// The link protocols: which texts HttpProtocol takes, the protocol list's
// order, what OtherFileSource forwards, a fresh HttpSource, and one
// connect attempt run on the test's thread.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "downloads/http/http_protocol.h"
#include "downloads/http/http_server_fixture.h"
#include "downloads/http/http_socket_connect_thread.h"
#include "downloads/http/other_file_source.h"
#include "downloads/http/protocol_list.h"
#include "support/link_download_fake.h"
#include "v4ada/error/error.h"

using support::FakeLinkDownload;

namespace {

// A protocol-made source that logs what it is asked.
class LoggingSource final : public OtherSourceInterface {
public:
    explicit LoggingSource(std::vector<std::string>* log) : log_(log) {}
    ~LoggingSource() override { log_->push_back("deleted"); }
    long double getSpeed() override { return 2.5L; }
    int statusCode() override { return 5; }
    void getRange(uint64_t start[3], uint64_t end[3]) override {
        for (int i = 0; i < 3; i++) start[i] = end[i] = 0;
        start[0] = 10;
        end[0] = 20;
    }
    bool resume() override {
        log_->push_back("resume");
        return true;
    }
    void reset() override { log_->push_back("reset"); }
    void stop() override { log_->push_back("stop"); }
    const char* url() override { return "http://u/"; }
    const char* fileName() override { return "name"; }
    bool tick(int ms) override {
        log_->push_back("tick " + std::to_string(ms));
        return false;
    }

private:
    std::vector<std::string>* log_;
};

// Takes texts beginning "x:".
class XProtocol final : public ProtocolInterface {
public:
    explicit XProtocol(std::vector<std::string>* log) : log_(log) {}
    OtherSourceInterface* makeSource(DownloadInterface*, const char* text) override {
        return std::string(text).rfind("x:", 0) == 0 ? new LoggingSource(log_) : nullptr;
    }

private:
    std::vector<std::string>* log_;
};

TEST(HttpProtocol, TakesExactlyHttpLinks) {
    FakeLinkDownload download(1000);
    HttpProtocol protocol;
    struct Row {
        std::string text;
        bool taken;
    } rows[] = {
        {"http://host/file.bin", true},
        {"http://1.2.3.4:8080/a/b", true},
        {"HTTP://host/file.bin", false},
        {"http:/host/file.bin", false},
        {"https://host/file.bin", false},
        {"bcp://1.2.3.4:4662", false},
        {"http", false},
        {"http://host/" + std::string(1024, 'a'), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        std::unique_ptr<OtherSourceInterface> source(protocol.makeSource(&download, row.text.c_str()));
        EXPECT_EQ(source != nullptr, row.taken);
        if (source) {
            EXPECT_EQ(source->url(), row.text);
        }
    }
    EXPECT_EQ(protocol.makeSource(&download, nullptr), nullptr);
    EXPECT_EQ(protocol.makeSource(nullptr, "http://host/f"), nullptr);
}

TEST(HttpProtocol, ListOffersTextsInOrderAndWrapsTheFirstSource) {
    std::vector<std::string> log;
    FakeLinkDownload download(1000);
    ProtocolList list;
    EXPECT_EQ(list.makeLinkSource(&download, "http://host/f"), nullptr);
    list.append(new XProtocol(&log));
    list.append(new HttpProtocol());
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(makeOtherSource(&list, &download, "ftp://host/f"), nullptr);
    EXPECT_EQ(makeOtherSource(&list, &download, nullptr), nullptr);
    EXPECT_EQ(makeOtherSource(nullptr, &download, "x:1"), nullptr);

    std::unique_ptr<FileSourceInterface> http(list.makeLinkSource(&download, "http://host/f"));
    ASSERT_NE(http, nullptr);
    EXPECT_STREQ(http->userName(), "http://host/f");
    EXPECT_EQ(http->download(), &download);

    std::unique_ptr<FileSourceInterface> x(makeOtherSource(&list, &download, "x:1"));
    ASSERT_NE(x, nullptr);
    EXPECT_NE(dynamic_cast<LoggingSource*>(static_cast<OtherFileSource*>(x.get())->source()), nullptr);
    list.clear();
    EXPECT_EQ(list.count(), 0);
}

TEST(HttpProtocol, OtherFileSourceForwardsToItsSource) {
    std::vector<std::string> log;
    FakeLinkDownload download(1000);
    {
        OtherFileSource source(&download, new LoggingSource(&log));
        EXPECT_DOUBLE_EQ(source.getSpeed(), 2.5);
        EXPECT_EQ(source.statusCode(), 5);
        EXPECT_STREQ(source.userName(), "http://u/");
        EXPECT_STREQ(source.fileName(), "name");
        EXPECT_EQ(source.partMap(), nullptr);
        EXPECT_EQ(source.userMeta(), nullptr);
        EXPECT_EQ(source.queuePlace(), 0u);
        EXPECT_EQ(source.download(), &download);
        uint64_t start[3] = {1, 1, 1}, end[3] = {1, 1, 1};
        source.getRequests(start, end);
        EXPECT_EQ(start[0], 10u);
        EXPECT_EQ(end[0], 20u);
        EXPECT_EQ(start[2] + end[2], 0u);
        source.pause();
        source.diskFull();
        source.shutdown();
        source.cancel();
        source.downloadComplete();
        EXPECT_TRUE(source.tryAsk());
        EXPECT_FALSE(source.tick(7));
    }
    EXPECT_EQ(log, (std::vector<std::string>{"reset", "reset", "reset", "stop", "stop", "resume", "tick 7", "deleted"}));
}

TEST(HttpProtocol, FreshSourceIsStopped) {
    FakeLinkDownload download(1000);
    HttpSource source(&download, "http://host/dir/file.bin");
    EXPECT_EQ(source.state(), HttpSource::kStopped);
    EXPECT_EQ(source.statusCode(), HttpSource::kStatusStopped);
    EXPECT_STREQ(source.url(), "http://host/dir/file.bin");
    EXPECT_EQ(source.getSpeed(), 0.0L);
    EXPECT_TRUE(source.tick(5000));
    EXPECT_EQ(source.state(), HttpSource::kStopped);
    EXPECT_TRUE(source.resume());
    EXPECT_FALSE(source.resume());
    EXPECT_EQ(source.state(), HttpSource::kConnect);
    source.stop();
    EXPECT_EQ(source.state(), HttpSource::kStopped);

    auto message = [](auto make) {
        try {
            make();
        } catch (const i4_err& error) {
            return std::string(error.message());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([] { HttpSource bad(nullptr, "http://h/f"); }), "dli or URL not defined");
    EXPECT_EQ(message([&] { HttpSource bad(&download, nullptr); }), "dli or URL not defined");
    EXPECT_EQ(message([] { HttpSocketConnectThread bad(nullptr); }),
              "couldn't make httpsocketconnecthread: source is null");
    EXPECT_TRUE(download.returned.empty());
    EXPECT_TRUE(download.weightChanges.empty());
}

// The URL's parts, the default port, and URLs that cannot be used.
TEST(HttpProtocol, ConnectAttemptSplitsTheUrl) {
    HeldConnector connector;
    connector.hold = false;
    setHttpConnector(&connector);
    struct Row {
        const char* url;
        HttpConnectAttempt::Outcome outcome;
        const char* host;
        int port;
        const char* path;
        const char* file;
    } rows[] = {
        {"http://files.example/dir/a%20b.bin", HttpConnectAttempt::Outcome::kNoHost, "files.example", 80, "/dir/a%20b.bin",
         "dir/a%20b.bin"},
        {"http://files.example:8080/", HttpConnectAttempt::Outcome::kNoHost, "files.example", 8080, "/", ""},
        {"http://files.example", HttpConnectAttempt::Outcome::kBadUrl, nullptr, 0, nullptr, nullptr},
        {"http://files.example:99999/f", HttpConnectAttempt::Outcome::kBadUrl, nullptr, 0, nullptr, nullptr},
        {"http://files.example:0/f", HttpConnectAttempt::Outcome::kBadUrl, nullptr, 0, nullptr, nullptr},
        {"http:///f", HttpConnectAttempt::Outcome::kBadUrl, nullptr, 0, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.url);
        HttpConnectAttempt attempt(row.url);
        HttpSocketConnectThread::connectOnce(attempt);
        ASSERT_TRUE(attempt.done());
        HttpConnectAttempt::Result result = attempt.take();
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_EQ(result.socket, nullptr);
        if (row.host) {
            EXPECT_STREQ(result.host.c_str(), row.host);
            EXPECT_EQ(connector.lastPort, row.port);
            EXPECT_STREQ(result.path.c_str(), row.path);
            EXPECT_STREQ(result.urlFile.c_str(), row.file);
        }
    }
    setHttpConnector(nullptr);
}

}  // namespace

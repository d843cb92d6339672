// HttpSource against a real nginx started by the test on 127.0.0.1, with
// its configuration, files and logs in a scratch directory: ranges over
// one kept-alive connection (its access log tells), a server that closes
// after each answer, both kinds of redirect, busy answers, a file shorter
// than the download, and a whole download fed by nginx alone. Without
// nginx (Debian package nginx-light) the tests are skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "downloads/http/http_protocol.h"
#include "downloads/http/http_server_fixture.h"
#include "downloads/http/other_file_source.h"
#include "downloads/http/protocol_list.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_state.h"
#include "support/daemon.h"
#include "support/debug_capture.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/link_download_fake.h"
#include "support/part_digests.h"
#include "v4ada/threads/linux/threads.h"

using support::FakeLinkDownload;
using support::Ranges;

namespace {

constexpr const char* kConfig = R"(daemon off;
master_process off;
worker_processes 1;
pid @DIR@/nginx.pid;
error_log @DIR@/error.log info;
events { worker_connections 64; }
http {
    log_format requests '$connection $connection_requests $status $request';
    access_log @DIR@/access.log requests;
    client_body_temp_path @DIR@/client_body;
    proxy_temp_path @DIR@/proxy;
    fastcgi_temp_path @DIR@/fastcgi;
    uwsgi_temp_path @DIR@/uwsgi;
    scgi_temp_path @DIR@/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:@PORT@;
        root @DIR@/www;
        location /closing/ { keepalive_timeout 0; }
        location = /moved-relative { absolute_redirect off; return 302 /x.bin; }
        location = /moved-absolute { return 301 http://127.0.0.1:@PORT@/x.bin; }
        location = /busy { return 503; }
    }
}
)";

class NginxTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string program = support::find_program("nginx");
        if (program.empty()) GTEST_SKIP() << "nginx is not installed (Debian package nginx-light)";
        nginx_ = support::Daemon::start(
            {program, "nginx.conf", kConfig, {"-p", "@DIR@/", "-c", "@DIR@/nginx.conf", "-e", "@DIR@/error.log"}});
        ASSERT_TRUE(nginx_->ready()) << nginx_->log();
    }
    void TearDown() override { threads_wait_all(); }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(nginx_->port()) + path;
    }
    void serve(const std::string& path, const std::string& content) {
        ASSERT_TRUE(support::write_file(nginx_->dir() + "/www" + path, content));
    }
    // The access log: one line per request, "<connection> <n> <status>
    // <request line>".
    std::vector<std::string> accessLog() const {
        std::istringstream in(support::read_file(nginx_->dir() + "/access.log"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::set<std::string> connections() const {
        std::set<std::string> out;
        for (const std::string& line : accessLog()) out.insert(line.substr(0, line.find(' ')));
        return out;
    }
    // Fetches the whole download from the path through a new source.
    int fetch(FakeLinkDownload& download, const std::string& path) {
        HttpSource source(&download, url(path).c_str());
        SourcePump pump(&source);
        source.resume();
        EXPECT_TRUE(pump.toEnd()) << nginx_->log();
        return source.statusCode();
    }

    support::DebugCapture debug_;
    std::unique_ptr<support::Daemon> nginx_;
};

constexpr uint64_t kSize = 1000000;

TEST_F(NginxTest, TwoRangesOverOneConnection) {
    const std::string content = test_content(kSize);
    serve("/x.bin", content);
    FakeLinkDownload download(content.size());
    download.ranges = {{0, 600000}, {600000, 1000000}};
    EXPECT_EQ(fetch(download, "/x.bin"), HttpSource::kStatusStopped) << debug_.text();
    EXPECT_EQ(download.image, content);
    std::vector<std::string> log = accessLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(connections().size(), 1u);
    EXPECT_NE(log[1].find(" 2 206 GET /x.bin HTTP/1.1"), std::string::npos) << log[1];
    EXPECT_EQ(download.weightChanges, (std::vector<int32_t>{+1, -1}));
}

TEST_F(NginxTest, ServerThatClosesGetsANewConnectionPerRange) {
    const std::string content = test_content(kSize);
    serve("/closing/x.bin", content);
    FakeLinkDownload download(content.size());
    download.ranges = {{0, 600000}, {600000, 1000000}};
    EXPECT_EQ(fetch(download, "/closing/x.bin"), HttpSource::kStatusStopped) << debug_.text();
    EXPECT_EQ(download.image, content);
    EXPECT_EQ(accessLog().size(), 2u);
    EXPECT_EQ(connections().size(), 2u);
}

TEST_F(NginxTest, RedirectsOfBothKinds) {
    const std::string content = test_content(kSize);
    serve("/x.bin", content);
    for (const char* path : {"/moved-relative", "/moved-absolute"}) {
        SCOPED_TRACE(path);
        FakeLinkDownload download(content.size());
        download.ranges = {{0, 1000000}};
        EXPECT_EQ(fetch(download, path), HttpSource::kStatusStopped) << debug_.text();
        EXPECT_EQ(download.image, content);
    }
    // Relative: the page skipped, the file asked for on the same
    // connection; absolute: on a new one.
    std::vector<std::string> log = accessLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_NE(log[1].find(" 2 206 GET /x.bin"), std::string::npos) << log[1];
    EXPECT_NE(log[3].find(" 1 206 GET /x.bin"), std::string::npos) << log[3];
}

TEST_F(NginxTest, BusyServerIsWaitedOutThreeTimes) {
    FakeLinkDownload download(kSize);
    download.ranges = {{0, 1000}};
    HttpSource source(&download, url("/busy").c_str());
    SourcePump pump(&source);
    source.resume();
    for (int round = 0; round < 3; round++) {
        ASSERT_TRUE(pump.until([&] { return source.state() == HttpSource::kWait; })) << debug_.text();
        EXPECT_GE(source.waitMs(), 60000 + 5000 * round);
        pump.tick(source.waitMs());
    }
    ASSERT_TRUE(pump.toEnd());
    EXPECT_EQ(source.statusCode(), HttpSource::kStatusFailed);
    EXPECT_EQ(accessLog().size(), 4u);
    EXPECT_EQ(download.returned, (Ranges{{0, 1000}}));
}

TEST_F(NginxTest, FileShorterThanTheDownloadFails) {
    const std::string content = test_content(kSize);
    serve("/short.bin", content.substr(0, 600000));
    for (const Ranges& ranges : {Ranges{{0, 1000000}}, Ranges{{700000, 1000000}}}) {
        FakeLinkDownload download(content.size());
        download.ranges.assign(ranges.begin(), ranges.end());
        EXPECT_EQ(fetch(download, "/short.bin"), HttpSource::kStatusFailed);
        EXPECT_TRUE(download.writes.empty());
        EXPECT_EQ(download.returned, ranges);
    }
}

// A real download, its only source the link: it completes, verified by
// its hashes, and the file in the incoming directory is the one served.
TEST_F(NginxTest, DownloadFedByNginxAloneCompletes) {
    support::Bytes data = support::pattern_bytes(kPartSize + 500000, 3);
    serve("/web.bin", support::as_text(data));
    support::DownloadWorld world;
    ProtocolList protocols;
    protocols.append(new HttpProtocol());
    LinkSourceFactory* previous = setLinkSourceFactory(&protocols);
    Download* download = world.start(data, "web.bin");
    ASSERT_NE(download, nullptr);
    download->addSourceLink(url("/web.bin").c_str());
    // The HTTP source among the download's sources, or null.
    auto connecting = [download] {
        bool waiting = false;
        download->lock(0);
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(download->sources(), &cursor)) {
            auto* other = dynamic_cast<OtherFileSource*>(static_cast<FileSourceInterface*>(element));
            auto* http = other ? dynamic_cast<HttpSource*>(other->source()) : nullptr;
            if (http && http->state() == HttpSource::kConnecting) waiting = true;
        }
        download->unlock();
        return waiting;
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (download->statusCode() != kDlsComplete && std::chrono::steady_clock::now() < deadline) {
        // No time passes for the source while its connect thread works.
        world.step(connecting() ? 0 : 10);
        if (download->statusCode() == kDlsCompleting) world.completions();
    }
    world.completions();
    setLinkSourceFactory(previous);
    ASSERT_EQ(download->statusCode(), kDlsComplete) << debug_.text() << world.ui.text();
    EXPECT_EQ(support::read_bytes(world.incoming + "/web.bin"), data);
    EXPECT_EQ(connections().size(), 1u);
}

}  // namespace

// HttpSource: a download source on a plain HTTP server. It asks the server
// for one run of missing bytes at a time with a ranged GET on a kept-alive
// connection, writes what arrives into the download, follows redirects
// and waits out busy answers (503). Connecting happens on a short-lived
// connect thread (HttpSocketConnectThread); everything else runs on the
// task thread in tick.
//
// States: 0 failed (the next tick gives everything back and answers
// false), 1 connect, 2 connecting, 3 send request, 4 read the answer's
// header, 5 read the body, 6 stopped, 7 wait, then connect (after a 503
// answer, or after a failed connection).
//
// Connections: a connect that fails, and a connection that ends before
// any body byte arrived on it, count as failures in a row; the source then
// waits 5, 10, 20 and 40 s before connecting again, and the fifth ends it.
// Body data resets the count, as it resets the redirect and busy counts.
//
// Stalls: a header not complete 30 s after the request, or 30 s without a
// body byte, close the connection and give the unread range back (other
// sources may take it); this counts as a failed connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "downloads/http/other_source_interface.h"
#include "v4ada/digest/part_hash.h"
#include "v4ada/string/owned_string.h"

class DownloadInterface;
class HttpConnectAttempt;
class i4_socket;
struct HttpResponseHead;

class HttpSource final : public OtherSourceInterface {
public:
    enum State {
        kFailed = 0,
        kConnect = 1,
        kConnecting = 2,
        kSendRequest = 3,
        kReadHeader = 4,
        kReadBody = 5,
        kStopped = 6,
        kWait = 7,
    };
    // Status codes (those of the download sources).
    static constexpr int kStatusStopped = 0;
    static constexpr int kStatusConnecting = 1;
    static constexpr int kStatusAsked = 3;
    static constexpr int kStatusTransferring = 5;
    static constexpr int kStatusFailed = 6;

    // The one buffer for the request and every read.
    static constexpr size_t kBufferSize = 10240;
    // A whole-file answer (200) is taken for files up to this size.
    static constexpr uint64_t kWholeFileLimit = kPartSize - 1;
    // Redirects followed since data last arrived.
    static constexpr int kMaxRedirects = 10;
    // Busy answers waited out in a row; the next one ends the source.
    static constexpr int kMaxBusyWaits = 3;
    static constexpr int kBusyWaitMs = 60000;
    static constexpr int kBusyWaitStepMs = 5000;
    static constexpr int kBusyWaitSpreadMs = 59000;
    // Failed connections in a row that end the source, and the waits
    // after the ones before.
    static constexpr int kMaxConnectFailures = 5;
    static constexpr int kRetryWaitMs[kMaxConnectFailures - 1] = {5000, 10000, 20000, 40000};
    // Milliseconds a connection may go without progress while reading an
    // answer.
    static constexpr int kStallLimitMs = 30000;
    // Speed samples: one per second or so, eight kept.
    static constexpr int kSampleMs = 1000;
    static constexpr int kSampleCount = 8;

    // Starts stopped. A null download or URL raises "dli or URL not
    // defined".
    HttpSource(DownloadInterface* download, const char* url);
    // Abandons a connect in progress, closes the connection and gives
    // back the range and the crumb weight.
    ~HttpSource() override;
    HttpSource(const HttpSource&) = delete;
    HttpSource& operator=(const HttpSource&) = delete;

    long double getSpeed() override;
    int statusCode() override { return status_; }
    void getRange(uint64_t start[3], uint64_t end[3]) override;
    // Stopped: connect at the next tick (true). Otherwise false.
    bool resume() override;
    // Stopped, with the range given back and every count cleared.
    void reset() override;
    // Stopped; the range is kept (a later resume goes on with it).
    void stop() override;
    const char* url() override { return url_.c_str(); }
    const char* fileName() override { return urlFile_.c_str(); }
    bool tick(int elapsedMs) override;

    // What tests and listings look at.
    int state() const { return state_; }
    const char* host() const { return host_.c_str(); }
    const char* path() const { return path_.c_str(); }
    uint64_t position() const { return position_; }
    uint64_t rangeStart() const { return rangeStart_; }
    uint64_t rangeEnd() const { return rangeEnd_; }
    bool serverCloses() const { return serverCloses_; }
    int redirects() const { return redirects_; }
    int busyCount() const { return busyCount_; }
    int waitMs() const { return busyWaitMs_; }
    int connectFailures() const { return connectFailures_; }
    bool weighted() const { return weighted_; }

private:
    // The states' work.
    void startConnect();
    void pollConnect(int elapsedMs);
    // False when no range is left.
    bool sendRequest();
    void readHeader();
    void readBody();
    // After a read of the answer: the range and the connection go back
    // once the stall limit is reached.
    void watchStall();
    void sampleSpeed(int elapsedMs);

    // What an answer asks for.
    void takeAnswer(const HttpResponseHead& head);
    void takeData(const HttpResponseHead& head);
    void takeRedirect(const HttpResponseHead& head);
    void takeBusy();
    // Body bytes for [position, ...).
    void takeBody(const uint8_t* bytes, size_t count);
    // The page of a redirect followed on the same connection; true once
    // it is all read.
    bool skipPage();
    // One read of the answer into the buffer: the count (0 when nothing
    // came; after a failure or a lost connection, with the state set).
    size_t readAnswer(uint8_t* into, size_t room);
    bool formatRequest(int* length);

    // State 0 with a diagnostic.
    void fail(const char* why);
    // The connection ended: a new one at once after body data came on it,
    // else a failure.
    void connectionLost(const char* why);
    void connectFailed(const char* why);
    // The source ends: the range and the weight go back; false.
    bool finish(int status);
    void giveBackRange();
    void dropWeight();
    void closeSocket();
    void abandonAttempt();

    DownloadInterface* download_;
    OwnedString url_;
    OwnedString path_;
    OwnedString host_;
    int port_ = 0;  // the URL's port (set when connecting)
    OwnedString urlFile_;
    i4_socket* socket_ = nullptr;
    uint8_t buffer_[kBufferSize + 1] = {};
    int speedIndex_ = 0;
    double speedSamples_[kSampleCount] = {};
    int msSinceSample_ = 0;
    uint64_t bytesSinceSample_ = 0;
    uint64_t position_ = 0;
    uint64_t rangeStart_ = 0;
    uint64_t rangeEnd_ = 0;
    int status_ = kStatusStopped;
    bool serverCloses_ = false;
    int redirects_ = 0;
    bool weighted_ = false;
    int busyWaitedMs_ = 0;
    int busyWaitMs_ = 0;
    int busyCount_ = 0;
    int state_ = kStopped;

    // The connect in progress (shared with its thread), and how long the
    // source has waited for it.
    std::shared_ptr<HttpConnectAttempt> attempt_;
    int connectWaitedMs_ = 0;
    int connectFailures_ = 0;
    // Body bytes arrived on the current connection.
    bool productive_ = false;
    // A relative redirect named the path: later connects keep it.
    bool keepPath_ = false;
    // Time in the answer without progress: since the request while the
    // header comes, since the last body byte after it.
    int stallMs_ = 0;
    // Header bytes collected in the buffer so far.
    size_t received_ = 0;
    // Bytes of a redirect answer's page still to be read before the next
    // request on the connection.
    uint64_t skip_ = 0;
};

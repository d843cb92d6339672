#include "downloads/http/http_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "downloads/download_interface.h"
#include "downloads/http/http_connect_attempt.h"
#include "downloads/http/http_connector.h"
#include "downloads/http/http_response.h"
#include "downloads/http/http_socket_connect_thread.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/error/error.h"
#include "v4ada/net/ready_flags.h"
#include "v4ada/net/socket.h"
#include "v4ada/time/random.h"

namespace {

constexpr const char* kHttpPrefix = "http://";

// Bytes that cannot stand in a request line as they are.
bool needsEscape(unsigned char c) { return c <= 0x20 || c >= 0x7f; }

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

std::string escapedPath(const char* path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char* p = path; p && *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (needsEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

HttpSource::HttpSource(DownloadInterface* download, const char* url) : download_(download) {
    if (download == nullptr || url == nullptr) error_at(__FILE__, __LINE__)("dli or URL not defined");
    reset();
    url_ = url;
}

HttpSource::~HttpSource() {
    abandonAttempt();
    closeSocket();
    giveBackRange();
    dropWeight();
}

// --- the operations --------------------------------------------------------------

long double HttpSource::getSpeed() {
    long double sum = 0;
    for (double sample : speedSamples_) sum += sample;
    return sum / kSampleCount;
}

void HttpSource::getRange(uint64_t start[3], uint64_t end[3]) {
    for (int i = 0; i < 3; i++) start[i] = end[i] = 0;
    start[0] = rangeStart_;
    end[0] = rangeEnd_;
}

bool HttpSource::resume() {
    if (state_ != kStopped) return false;
    state_ = kConnect;
    return true;
}

void HttpSource::reset() {
    abandonAttempt();
    closeSocket();
    giveBackRange();
    serverCloses_ = false;
    redirects_ = 0;
    position_ = rangeStart_ = rangeEnd_ = 0;
    speedIndex_ = 0;
    std::fill(std::begin(speedSamples_), std::end(speedSamples_), 0.0);
    msSinceSample_ = 0;
    bytesSinceSample_ = 0;
    busyWaitedMs_ = busyWaitMs_ = busyCount_ = 0;
    connectFailures_ = 0;
    received_ = 0;
    skip_ = 0;
    status_ = kStatusStopped;
    state_ = kStopped;
}

void HttpSource::stop() {
    abandonAttempt();
    closeSocket();
    received_ = 0;
    skip_ = 0;
    status_ = kStatusStopped;
    state_ = kStopped;
}

bool HttpSource::tick(int elapsedMs) {
    int ms = std::max(elapsedMs, 0);
    switch (state_) {
        case kFailed:
            return finish(kStatusFailed);
        case kConnect:
            startConnect();
            break;
        case kConnecting:
            pollConnect(ms);
            break;
        case kSendRequest:
            if (!sendRequest()) return finish(kStatusStopped);
            break;
        case kReadHeader:
            stallMs_ = std::min(stallMs_ + ms, kStallLimitMs);
            readHeader();
            watchStall();
            break;
        case kReadBody:
            stallMs_ = std::min(stallMs_ + ms, kStallLimitMs);
            readBody();
            watchStall();
            break;
        case kStopped:
            status_ = kStatusStopped;
            break;
        case kWait:
            busyWaitedMs_ += ms;
            if (busyWaitedMs_ >= busyWaitMs_) state_ = kConnect;
            break;
        default:
            break;
    }
    sampleSpeed(ms);
    return true;
}

// --- connecting -------------------------------------------------------------------

void HttpSource::startConnect() {
    closeSocket();
    abandonAttempt();
    attempt_ = std::make_shared<HttpConnectAttempt>(url_.c_str());
    connectWaitedMs_ = 0;
    HttpSocketConnectThread::launch(attempt_);
    status_ = kStatusConnecting;
    state_ = kConnecting;
}

void HttpSource::pollConnect(int elapsedMs) {
    status_ = kStatusConnecting;
    if (!attempt_ || !attempt_->done()) {
        connectWaitedMs_ += elapsedMs;
        if (!attempt_ || connectWaitedMs_ >= kHttpConnectLimitMs) {
            abandonAttempt();
            connectFailed("connect timed out");
        }
        return;
    }
    HttpConnectAttempt::Result result = attempt_->take();
    attempt_.reset();
    switch (result.outcome) {
        case HttpConnectAttempt::Outcome::kConnected:
            socket_ = result.socket;
            host_ = result.host;
            port_ = result.port;
            if (!keepPath_) path_ = result.path;
            urlFile_ = result.urlFile;
            productive_ = false;
            received_ = 0;
            skip_ = 0;
            state_ = kSendRequest;
            return;
        case HttpConnectAttempt::Outcome::kBadUrl:
            fail("not a usable URL");
            return;
        case HttpConnectAttempt::Outcome::kNoHost:
            connectFailed("host not found");
            return;
        default:
            connectFailed("cannot connect");
            return;
    }
}

// --- the request ------------------------------------------------------------------

bool HttpSource::sendRequest() {
    if (socket_ == nullptr) {
        state_ = kConnect;
        return true;
    }
    if (skip_ > 0 && !skipPage()) return true;
    int ready = socket_->waitUntil(kWritable, 0, nullptr);
    if (ready & kReadyError) {
        fail("connection error");
        return true;
    }
    if (!(ready & kWritable)) return true;
    if (rangeEnd_ == 0 || position_ >= rangeEnd_) {
        uint64_t start = 0, end = 0;
        if (!download_->pickPartRange(&start, &end)) return false;
        if (start >= end || end > download_->size()) return false;
        rangeStart_ = start;
        rangeEnd_ = end;
        position_ = start;
    } else if (position_ > rangeStart_) {
        // The connection ended inside the range: ask for the rest only.
        rangeStart_ = position_;
    }
    position_ = rangeStart_;
    int length = 0;
    if (!formatRequest(&length)) {
        fail("request longer than the buffer");
        return true;
    }
    int written = socket_->write(buffer_, length);
    if (written == length) {
        received_ = 0;
        stallMs_ = 0;
        status_ = kStatusAsked;
        state_ = kReadHeader;
    } else if (written < 0) {
        connectionLost("connection closed");
    } else if (written > 0) {
        fail("request written in part");
    }
    return true;
}

bool HttpSource::formatRequest(int* length) {
    std::string target = escapedPath(path_.c_str());
    // The Host field names the port unless it is the default one: a server
    // with name-based hosts on another port would otherwise pick the wrong
    // site.
    std::string host = host_.c_str() ? host_.c_str() : "";
    if (port_ != HttpSocketConnectThread::kDefaultPort) host += ":" + std::to_string(port_);
    int n = std::snprintf(reinterpret_cast<char*>(buffer_), kBufferSize,
                          "GET %s HTTP/1.1\r\nHost: %s\r\nConnection: Keep-Alive\r\nRange: bytes=%llu-%llu\r\n\r\n",
                          target.c_str(), host.c_str(),
                          static_cast<unsigned long long>(rangeStart_),
                          static_cast<unsigned long long>(rangeEnd_ - 1));
    if (n <= 0 || static_cast<size_t>(n) >= kBufferSize) return false;
    *length = n;
    return true;
}

bool HttpSource::skipPage() {
    skip_ -= readAnswer(buffer_, static_cast<size_t>(std::min<uint64_t>(skip_, kBufferSize)));
    return skip_ == 0 && state_ == kSendRequest;
}

size_t HttpSource::readAnswer(uint8_t* into, size_t room) {
    if (socket_ == nullptr) {
        state_ = kConnect;
        return 0;
    }
    int ready = socket_->waitUntil(kReadable, 0, nullptr);
    if (ready & kReadyError) {
        fail("connection error");
        return 0;
    }
    if (!(ready & kReadable)) return 0;
    int n = socket_->read(into, static_cast<int>(room));
    status_ = kStatusTransferring;
    if (n < 0) {
        connectionLost("connection closed");
        return 0;
    }
    bytesSinceSample_ += static_cast<uint64_t>(n);
    return static_cast<size_t>(n);
}

// --- the answer -------------------------------------------------------------------

void HttpSource::readHeader() {
    size_t n = readAnswer(buffer_ + received_, kBufferSize - received_);
    if (n == 0) return;
    received_ += n;
    HttpResponseHead head;
    switch (readHttpResponseHead(buffer_, received_, &head)) {
        case HttpHeadRead::kMalformed:
            fail("not an HTTP answer");
            return;
        case HttpHeadRead::kIncomplete:
            if (received_ >= kBufferSize) fail("answer header longer than 10240 bytes");
            return;
        case HttpHeadRead::kComplete:
            break;
    }
    takeAnswer(head);
}

void HttpSource::takeAnswer(const HttpResponseHead& head) {
    if (head.connectionClose) serverCloses_ = true;
    if (head.status == 200 || head.status == 206) {
        takeData(head);
    } else if (head.status >= 300 && head.status <= 399) {
        takeRedirect(head);
    } else if (head.status == 503) {
        takeBusy();
    } else {
        OwnedString why;
        why.format("answer %d", head.status);
        fail(why.c_str());
    }
}

void HttpSource::takeData(const HttpResponseHead& head) {
    uint64_t size = download_->size();
    if (head.status == 200) {
        if (size > kWholeFileLimit || size == 0) {
            fail("whole-file answer for a file of a part or more");
            return;
        }
        rangeStart_ = 0;
        rangeEnd_ = size;
        position_ = 0;
    }
    if (head.otherEncoding) {
        fail("transfer encoding other than identity");
        return;
    }
    if (head.status == 206 && head.hasContentRange &&
        (!head.rangeValid || head.rangeFirst != rangeStart_ || head.rangeLast + 1 != rangeEnd_ ||
         (head.rangeTotal >= 0 && static_cast<uint64_t>(head.rangeTotal) != size))) {
        fail("answer for another range");
        return;
    }
    if (head.contentLength > 0) {
        if (!weighted_) {
            BoolArray all(download_->crumbCount());
            all.setAll(true);
            download_->changeWeight(&all, +1);
            weighted_ = true;
        }
        if (static_cast<uint64_t>(head.contentLength) != rangeEnd_ - rangeStart_) {
            fail("content length is not the range's");
            return;
        }
    }
    state_ = kReadBody;
    stallMs_ = 0;
    size_t body = received_ - head.bodyStart;
    received_ = 0;
    takeBody(buffer_ + head.bodyStart, body);
}

void HttpSource::takeRedirect(const HttpResponseHead& head) {
    const std::string& to = head.location;
    if (to.empty() || hasControl(to)) {
        fail("redirect without a usable Location");
        return;
    }
    if (redirects_ >= kMaxRedirects) {
        fail("too many redirects");
        return;
    }
    if (to.compare(0, std::strlen(kHttpPrefix), kHttpPrefix) == 0) {
        url_ = to.c_str();
        keepPath_ = false;
        redirects_++;
        closeSocket();
        received_ = 0;
        state_ = kConnect;
        return;
    }
    if (to[0] != '/' || (to.size() > 1 && to[1] == '/')) {
        fail("unusable redirect");
        return;
    }
    path_ = to.c_str();
    keepPath_ = true;
    redirects_++;
    // The answer's page goes before the next request on this connection;
    // without a length to skip by, a new connection it is.
    uint64_t have = received_ - head.bodyStart;
    received_ = 0;
    if (serverCloses_ || head.otherEncoding || head.contentLength < 0 ||
        have > static_cast<uint64_t>(head.contentLength)) {
        closeSocket();
        state_ = kConnect;
        return;
    }
    skip_ = static_cast<uint64_t>(head.contentLength) - have;
    state_ = kSendRequest;
}

void HttpSource::takeBusy() {
    closeSocket();
    received_ = 0;
    if (busyCount_ >= kMaxBusyWaits) {
        fail("busy");
        return;
    }
    busyWaitedMs_ = 0;
    busyWaitMs_ = kBusyWaitMs + busyCount_ * kBusyWaitStepMs + random_below(kBusyWaitSpreadMs);
    busyCount_++;
    status_ = kStatusAsked;
    state_ = kWait;
}

// --- the body ---------------------------------------------------------------------

void HttpSource::readBody() {
    size_t n = readAnswer(buffer_, kBufferSize);
    if (n > 0) takeBody(buffer_, n);
}

void HttpSource::watchStall() {
    if ((state_ != kReadHeader && state_ != kReadBody) || stallMs_ < kStallLimitMs) return;
    debug_printf("HTTP source %s: no data for %d s\n", url_.c_str() ? url_.c_str() : "", kStallLimitMs / 1000);
    closeSocket();
    received_ = 0;
    giveBackRange();
    connectFailed("no data");
}

void HttpSource::takeBody(const uint8_t* bytes, size_t count) {
    if (count > rangeEnd_ - position_) {
        fail("more data than the range");
        return;
    }
    if (count > 0) {
        stallMs_ = 0;
        productive_ = true;
        redirects_ = 0;
        busyCount_ = busyWaitedMs_ = busyWaitMs_ = 0;
        connectFailures_ = 0;
        uint64_t start = position_;
        position_ += count;
        download_->writeData(bytes, start, position_);
        // A download that completed has stopped its sources.
        if (state_ != kReadBody) return;
    }
    if (position_ >= rangeEnd_) state_ = serverCloses_ ? kConnect : kSendRequest;
}

// --- ends and failures --------------------------------------------------------------

void HttpSource::fail(const char* why) {
    debug_printf("HTTP source %s: %s\n", url_.c_str() ? url_.c_str() : "", why);
    closeSocket();
    abandonAttempt();
    received_ = 0;
    skip_ = 0;
    state_ = kFailed;
}

void HttpSource::connectionLost(const char* why) {
    closeSocket();
    received_ = 0;
    skip_ = 0;
    if (productive_) {
        state_ = kConnect;
        return;
    }
    connectFailed(why);
}

void HttpSource::connectFailed(const char* why) {
    connectFailures_++;
    if (connectFailures_ >= kMaxConnectFailures) {
        fail(why);
        return;
    }
    busyWaitedMs_ = 0;
    busyWaitMs_ = kRetryWaitMs[connectFailures_ - 1];
    status_ = kStatusConnecting;
    state_ = kWait;
}

bool HttpSource::finish(int status) {
    abandonAttempt();
    closeSocket();
    giveBackRange();
    dropWeight();
    status_ = status;
    return false;
}

void HttpSource::giveBackRange() {
    if (rangeEnd_ != 0 && position_ < rangeEnd_) download_->returnRange(position_, rangeEnd_);
    position_ = rangeStart_ = rangeEnd_ = 0;
}

void HttpSource::dropWeight() {
    if (!weighted_) return;
    BoolArray all(download_->crumbCount());
    all.setAll(true);
    download_->changeWeight(&all, -1);
    weighted_ = false;
}

void HttpSource::closeSocket() {
    if (socket_ == nullptr) return;
    socket_->close();
    delete socket_;
    socket_ = nullptr;
}

void HttpSource::abandonAttempt() {
    if (!attempt_) return;
    attempt_->abandon();
    attempt_.reset();
}

void HttpSource::sampleSpeed(int elapsedMs) {
    msSinceSample_ += elapsedMs;
    if (msSinceSample_ <= kSampleMs) return;
    speedSamples_[speedIndex_] = static_cast<double>(bytesSinceSample_ / static_cast<uint64_t>(msSinceSample_));
    speedIndex_ = (speedIndex_ + 1) % kSampleCount;
    msSinceSample_ = 0;
    bytesSinceSample_ = 0;
}

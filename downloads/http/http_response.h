// Reading the header of an HTTP answer from the bytes received so far: a
// pure function over the bytes, called again as more arrive.
//
// The status line must begin with "HTTP/" (CR and LF before it are
// skipped); the status is the three-digit number after the version. The
// header ends at a line end followed by an empty line (CR LF CR LF, or
// LF LF); the body starts after it. Header names are matched in any letter
// case and values lose the blanks around them. The fields read:
//   Content-Length      digits only; two different values are malformed
//   Connection          "close" among its comma-separated tokens
//   Transfer-Encoding   anything but "identity" is an encoding we do not take
//   Content-Range       "bytes <first>-<last>/<total or *>"
//   Location            the first non-empty value
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The longest answer header taken.
constexpr size_t kHttpMaxHeader = 10240;

struct HttpResponseHead {
    int status = 0;
    // -1 when absent.
    int64_t contentLength = -1;
    bool connectionClose = false;
    bool otherEncoding = false;
    // A Content-Range line was there; rangeValid tells whether it read
    // as a byte range (first <= last).
    bool hasContentRange = false;
    bool rangeValid = false;
    uint64_t rangeFirst = 0;
    uint64_t rangeLast = 0;
    // -1 for "*".
    int64_t rangeTotal = -1;
    std::string location;
    // Where the body starts in the bytes read.
    size_t bodyStart = 0;
};

enum class HttpHeadRead {
    kIncomplete,  // the header has not ended yet: wait for more bytes
    kComplete,    // head filled in
    kMalformed,   // not an HTTP answer, or a field that cannot be read
};

// Reads the header from the first length bytes at data (at most
// kHttpMaxHeader are looked at); head is filled only when complete.
HttpHeadRead readHttpResponseHead(const uint8_t* data, size_t length, HttpResponseHead* head);

// Feeds answer headers to the reader over growing prefixes, as an answer
// arriving in pieces would be seen: an answer once read (or refused) reads
// the same with more bytes, and what it reports stays inside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "downloads/http/http_response.h"

namespace {

void check(const uint8_t* data, size_t n, HttpHeadRead* previous, HttpResponseHead* first) {
    HttpResponseHead head;
    HttpHeadRead result = readHttpResponseHead(data, n, &head);
    if (*previous == HttpHeadRead::kMalformed && result != HttpHeadRead::kMalformed) abort();
    if (result == HttpHeadRead::kComplete) {
        if (head.bodyStart > n || head.status < 100 || head.status > 599) abort();
        if (head.rangeValid && head.rangeFirst > head.rangeLast) abort();
        if (*previous == HttpHeadRead::kComplete &&
            (head.bodyStart != first->bodyStart || head.status != first->status ||
             head.contentLength != first->contentLength || head.location != first->location))
            abort();
        if (*previous != HttpHeadRead::kComplete) *first = head;
    }
    if (*previous == HttpHeadRead::kComplete && result != HttpHeadRead::kComplete) abort();
    *previous = result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kHttpMaxHeader + 64) return 0;
    HttpHeadRead previous = HttpHeadRead::kIncomplete;
    HttpResponseHead first;
    // Every prefix of the start, then coarser steps.
    for (size_t n = 0; n <= size; n += n < 256 ? 1 : 61) check(data, n, &previous, &first);
    check(data, size, &previous, &first);
    return 0;
}

// TransferTest: the self test of the download side. It works on the live
// client: it starts a real download (a 100-byte "test.file" with a random
// hash, which stays in the pool and the temporary directory), checks that
// the download's lock is not re-entrant, and drives two peer sources of
// it through their connecting states: one for this client itself (a bad
// source at once) and one for an address where nothing can answer
// (127.0.0.1, port 0), whose failures lead it through six back-offs to a
// bad source. The failures are reported to the sources by the test; the
// attempts the client makes meanwhile all fail.
#pragma once

#include <cstdint>

#include "console/selftest/test.h"

class Download;

class TransferTest : public Test {
public:
    // The second source's address: port 0, which nothing can listen on.
    static constexpr const char* kUnservedAddress = "127.0.0.1";
    static constexpr uint16_t kUnservedPort = 0;

    bool run() override;

    bool testFileSource();
    // A download of a new record with the name, the size and a random
    // hash, from the download pool; the caller releases the reference.
    // Null when the pool has none.
    Download* startTestDownload(const char* name, uint32_t size);
};

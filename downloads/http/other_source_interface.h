// OtherSourceInterface: what a protocol-made source does for its download.
// The download reaches it through the OtherFileSource adapter, which turns
// the download's commands into these operations. Task thread only.
#pragma once

#include <cstdint>

class OtherSourceInterface {
public:
    virtual ~OtherSourceInterface() = default;

    // Bytes per millisecond.
    virtual long double getSpeed() = 0;
    // Source status (0 stopped, 1 connecting, 3 asked or waiting, 5
    // transferring, 6 failed; the source status codes of the downloads).
    virtual int statusCode() { return 0; }
    // The byte ranges being fetched, [start[i], end[i]); a free slot is 0, 0.
    virtual void getRange(uint64_t start[3], uint64_t end[3]) {
        for (int i = 0; i < 3; i++) start[i] = end[i] = 0;
    }
    // Starts work when stopped; true when it did.
    virtual bool resume() = 0;
    // Stops and gives back what the source was fetching.
    virtual void reset() = 0;
    // Stops (the download is finishing or going away).
    virtual void stop() = 0;
    virtual const char* url() { return nullptr; }
    virtual const char* fileName() { return nullptr; }
    // Elapsed milliseconds; false tells the download to delete the source.
    virtual bool tick(int elapsedMs) {
        (void)elapsedMs;
        return false;
    }
};

// The states that fetch data: DLS_Downloading and the one Highest download
// (DLS_Highest), which also seeks partners.
//
// Each tick measures the speed over windows of more than 2,000 ms (eight
// samples), asks the sources in turn to start work while the pool's gate
// is open and free ranges are left (or all data is there and the hash set
// is awaited), falls back to the overlay's search for sources, and asks
// for the file's hash set at most once a minute until it is complete (one
// source a round; every connected one while the set is awaited). A tick
// that finds nothing missing (no gap, no check pending) completes the
// download.
#pragma once

#include "downloads/pool/download_state.h"

class DLS_Downloading : public DownloadState {
public:
    static constexpr int kSpeedWindowMs = 2000;
    static constexpr int kSampleCount = 8;
    // Small targets fetched at 1 byte per ms or more ask no new sources.
    static constexpr uint64_t kSmallTarget = 737280;
    static constexpr double kEnoughSpeed = 1.0;
    static constexpr int kHashSetPeriodMs = 60000;
    // After a round in which no source could send a request.
    static constexpr int kHashSetRetryAt = 50000;

    explicit DLS_Downloading(Download* download);

    void tick(int elapsedMs) override;
    void pause() override;
    void diskFull() override;
    void dataReceived(i4_file* reader, SourcePeer* connection, uint64_t start, uint64_t end) override;
    bool openSlot(SourcePeer* connection) override;
    void fileNameAnswer(const char* name, SourcePeer* connection) override;
    void connectFailed(uint32_t ip, uint16_t port) override;

    // Test access.
    int hashSetTimer() const { return hashSetTimer_; }
    const double* samples() const { return samples_; }

protected:
    DLS_Downloading(Download* download, int code);
    void updateSpeed(int elapsedMs);
    void askSources();
    void hashSetStep(int elapsedMs);

private:
    int hashSetTimer_ = kHashSetPeriodMs;
    int window_ = 0;
    double samples_[kSampleCount] = {};
    // Bytes done at the last sample (64-bit: corruption lowers the count).
    int64_t mark_ = 0;
    int index_ = 0;
};

// Priority 3 while it lives; leaving it lowers a priority still at 3 to 2
// and asks for a reschedule.
class DLS_Highest : public DLS_Downloading {
public:
    static constexpr double kPerfectPartner = 100.0;

    explicit DLS_Highest(Download* download);
    ~DLS_Highest() override;

    // Partner step, then the downloading tick.
    void tick(int elapsedMs) override;
    bool becomeHighest() override;
    void partnerAccepted(SourcePeer* connection) override;
    void partnerRefused(SourcePeer* connection) override;

private:
    void partnerStep();
};

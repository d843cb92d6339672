// The source states that lead up to a transfer or away from it: not yet
// asked, connecting, waiting for the user's crumb map, queued at the user,
// waiting for a fresh map while holding a slot, nothing needed, gone for a
// while after a failure, and bad (deleted at the next tick). The defaults
// and the connected path are in file_source_state.h; the transfer and
// partner states in transfer_states.h and partner_states.h.
#pragma once

#include <cstdint>

#include "downloads/sources/file_source_state.h"

// Not asked yet (0). The download asks its sources in turn (tryAsk) while
// the pool's gate is open.
class FSS_Unasked final : public FileSourceState {
public:
    explicit FSS_Unasked(FileSource* source) : FileSourceState(source, kFssUnasked) {}

    // Nothing while the socket pool holds maxCon + 2 connections or more;
    // a fresh asked-source entry puts the source on the queue; otherwise
    // the gate is held and the user connected. Always true: the first
    // unasked source ends the download's pass.
    bool tryAsk() override;
    // The user reports a rank: we are on its queue.
    void placeInQueue(SourcePeer* connection, uint32_t rank) override;
    void peerClosed() override {}
};

// A connection is on its way (1).
class FSS_WaitForConnection final : public FileSourceState {
public:
    static constexpr int kWaitMs = 240000;

    explicit FSS_WaitForConnection(FileSource* source) : FileSourceState(source, kFssWaitConnection) {}

    bool tick(int elapsedMs) override;

private:
    int64_t waitedMs_ = 0;
};

// Connected, the user's crumb map was asked for (2).
class FSS_WaitForChunksBQ final : public PeerInterestedFSS {
public:
    explicit FSS_WaitForChunksBQ(FileSource* source) : PeerInterestedFSS(source, kFssWaitChunksBQ) {}

    void partMapChanged() override;
    bool noFile(SourcePeer* connection) override;
};

// On the user's upload queue (3). The connection is held until the user
// has told us our rank; the user connects again when a slot opens.
class FSS_OnQueue final : public FileSourceState {
public:
    static constexpr int64_t kUnverifiedWaitMs = 900000;
    static constexpr int64_t kVerifiedWaitMs = 43200000;
    static constexpr const char* kUseTag = "FSS_OnQueue";

    explicit FSS_OnQueue(FileSource* source);
    ~FSS_OnQueue() override;

    void placeInQueue(SourcePeer* connection, uint32_t rank) override;
    void peerClosed() override { held_ = nullptr; }
    void pause() override;
    bool tryAsk() override { return false; }
    // A user whose hello did not verify is asked again after 900,000 ms,
    // a verified one after 43,200,000 ms.
    bool tick(int elapsedMs) override;

    SourcePeer* heldConnection() const { return held_; }

private:
    int64_t waitedMs_ = 0;
    SourcePeer* held_ = nullptr;
};

// Transferring with nothing left to ask for; a fresh map was asked for and
// the upload slot is kept meanwhile (4).
class FSS_WaitForChunks final : public PeerInterestedFSS {
public:
    explicit FSS_WaitForChunks(FileSource* source) : PeerInterestedFSS(source, kFssWaitChunks) {}

    void partMapChanged() override;
    bool uploadEnded(SourcePeer* connection) override;
    bool noFile(SourcePeer* connection) override;
    void cancel() override;
    void shutdown() override { cancel(); }
};

// The user has nothing the download still needs (8).
//
// Ranges that come free while it waits (a source gave back what it had
// taken, a check failed, data went missing) are looked at on the next
// tick: when the user's map holds one of them, the source goes on as a
// map with a needed crumb makes it (Unasked), so it can take the range
// before the source that gave it up comes back. Going on, the user is
// taken off the asked-source list: the slot it granted was given back, so
// the next contact asks for one again.
//
// Entered from a transfer that was asking the user to partner, it takes
// the open request over with its place in the partner table: an
// acceptance still makes a partner to test, while a refusal, no answer
// within kAnswerMs or leaving this state takes the source out of the table
// (cool-down 1), so that no partner slot and no kept connection stay held
// by a source that is not partnering.
class FSS_NoNeededParts final : public FileSourceState {
public:
    static constexpr int64_t kAnswerMs = 60000;

    explicit FSS_NoNeededParts(FileSource* source, bool askingPartner = false);
    ~FSS_NoNeededParts() override;

    // Unasked once the map is no longer fresh, or once a range of the
    // user's crumbs came free.
    bool tick(int elapsedMs) override;
    void partMapChanged() override;
    bool partnerAccepted(SourcePeer* connection) override;
    bool partnerRefused(SourcePeer* connection) override;
    void peerClosed() override {}
    bool openSlot() override { return false; }

private:
    void leavePartnerTable();
    // Unasked, off the asked-source list.
    void goOn();

    bool inPartnerTable_;
    int64_t askedMs_ = 0;
    // The range chooser's count of freed ranges when last looked at.
    uint64_t freedSeen_ = 0;
};

// The user could not be reached; the source waits 600,000 x 2.4^retries
// ms and tries again, and is dropped after the sixth failure in a row (7).
class FSS_Gone final : public FileSourceState {
public:
    static constexpr int64_t kBaseWaitMs = 600000;
    static constexpr int32_t kMaxRetries = 5;

    explicit FSS_Gone(FileSource* source);

    bool tick(int elapsedMs) override;
    void resetRetries() override;
    void newPeer(SourcePeer* connection) override;
    double partnerScore() override { return kNoPartner; }
    void peerClosed() override {}
    // Leaves the asked-source list and keeps its back-off.
    void downloadComplete() override;

    int64_t waitMs() const { return waitMs_; }
    // floor(600,000 x 2.4^retries).
    static int64_t backOffMs(int32_t retries);

private:
    int64_t waitedMs_ = 0;
    int64_t waitMs_;
};

// No use: the download deletes the source at its next tick (6).
class FSS_BadSource final : public FileSourceState {
public:
    explicit FSS_BadSource(FileSource* source) : FileSourceState(source, kFssBadSource) {}

    bool tick(int elapsedMs) override {
        (void)elapsedMs;
        return false;
    }
    double partnerScore() override { return kNoPartner; }
    void peerClosed() override {}
    bool openSlot() override { return false; }
    // Stays bad.
    void downloadComplete() override { cancel(); }
};

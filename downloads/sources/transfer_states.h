// The transferring source states: the user opened an upload slot for us.
// FSS_Transfering keeps up to three byte ranges requested at a time, takes
// ranges over from slower sources, and gives the slot up when nothing more
// is needed or no data came for 360,000 ms. FSS_TransferingAskingPartner
// does the same while it asks the user to partner.
//
// Every living transferring state (partners included) counts itself in the
// download pool's transferring sources, which the pool's gate reads.
#pragma once

#include <cstdint>

#include "downloads/sources/file_source_state.h"

class FSS_Transfering : public PeerInterestedFSS {
public:
    static constexpr int64_t kStallMs = 360000;
    // The most one request of a user whose hello did not verify asks for.
    static constexpr uint64_t kUnverifiedCap = 184320;
    // A source takes over from one it is more than this many times faster.
    static constexpr double kTakeOverFactor = 1.5;

    // stallMs: time since data last arrived (carried over from the state
    // this one follows).
    FSS_Transfering(FileSource* source, int64_t stallMs = 0) : FSS_Transfering(source, stallMs, kFssTransferring) {}
    ~FSS_Transfering() override;

    // The connection's receive average.
    double getSpeed() override;
    // The ranges already requested stay requested.
    void enter() override { requestChunks(); }
    // Free slots get ranges, rarest first (or taken over from a slower
    // source), and all three go out in one request; with nothing for any
    // slot, noNeededParts.
    void requestChunks() override;
    // The current requests go out again (or new ones are made).
    bool openSlot() override;
    // Once request 0 is received whole, the requests move down and a new
    // one is made.
    void dataReceived(SourcePeer* connection) override;
    void partMapChanged() override { requestChunks(); }
    // Fresh map: NoNeededParts, the slot handed on; else a new map is
    // asked for (WaitForChunks) or, for a small file, everything assumed.
    void noNeededParts() override;
    bool tick(int elapsedMs) override;
    bool uploadEnded(SourcePeer* connection) override;
    bool noFile(SourcePeer* connection) override;
    void pause() override;
    void cancel() override;
    void diskFull() override { pause(); }
    void shutdown() override { cancel(); }
    void peerClosed() override;
    bool connectFailed(uint32_t ip, uint16_t port) override {
        (void)ip, (void)port;
        return false;
    }
    void tryPartner() override;

    int64_t stallMs() const { return stallMs_; }

protected:
    FSS_Transfering(FileSource* source, int64_t stallMs, int statusCode);
    // The Transfering reaction to a pause (Unasked, slot handed on).
    void pauseTransfer();
    // The Transfering reaction to a closed connection (Gone).
    void closeTransfer();
    // The slot's new range, taken from a slower source's request.
    bool takeOver(int slot, uint64_t cap);
    uint64_t cap() const;

    int64_t stallMs_;

private:
    bool counted_ = false;
};

// Transferring while the user is asked to partner (5).
class FSS_TransferingAskingPartner final : public FSS_Transfering {
public:
    static constexpr int64_t kAnswerMs = 60000;

    FSS_TransferingAskingPartner(FileSource* source, int64_t stallMs);
    ~FSS_TransferingAskingPartner() override;

    bool tick(int elapsedMs) override;
    bool partnerAccepted(SourcePeer* connection) override;
    bool partnerRefused(SourcePeer* connection) override;
    bool partnerRequested(SourcePeer* connection) override;
    void stopPartner() override;
    bool uploadEnded(SourcePeer* connection) override;
    void noNeededParts() override;
    void pause() override;
    void peerClosed() override;
    void tryPartner() override {}
    double partnerScore() override { return kNoPartner; }

private:
    // Whether the destructor still takes the source out of the partner
    // table (with a cool-down); cleared when the partnership moves on.
    bool inPartnerTable_ = true;
    int64_t askedMs_ = 0;
};

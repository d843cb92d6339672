// The partner states of a source. Partners are users that download the
// same file and serve each other without queueing: FSS_AskingPartner asks
// a user that is not transferring to us, FSS_TestPartner tries an accepted
// partner for 60,000 ms, FSS_Partner is a confirmed one. A partner's
// crumbs weigh 10 in the range chooser (so the download leaves them to the
// partner) and its transfer has no stall limit. The table of partners is
// PartnerManager.
//
// inPartnerTable: when the state is deleted with it set, the source leaves
// the partner table and may not be asked again for 1,200,000 ms; a
// transition that hands the partnership on clears it first.
#pragma once

#include <cstdint>

#include "downloads/sources/transfer_states.h"

class FSS_Partner : public FSS_Transfering {
public:
    // What a partner's crumbs weigh beyond the 1 of every source.
    static constexpr int32_t kExtraWeight = 9;
    // The cool-down after the table dropped the partner: 600,000 ms.
    static constexpr int32_t kDroppedCooldown = 600000;

    explicit FSS_Partner(FileSource* source);
    ~FSS_Partner() override;

    int32_t weight() override { return 1 + kExtraWeight; }
    void enter() override;
    bool tick(int elapsedMs) override {
        (void)elapsedMs;
        return true;
    }
    void stopPartner() override;
    bool partnerRequested(SourcePeer* connection) override { return own(connection); }
    void noNeededParts() override;
    bool noFile(SourcePeer* connection) override {
        (void)connection;
        return false;
    }
    void pause() override;
    void peerClosed() override;
    void tryPartner() override {}
    double partnerScore() override { return kNoPartner; }

protected:
    bool inPartnerTable_ = true;

private:
    bool weighted_ = false;
};

// An accepted partner on trial (10).
class FSS_TestPartner final : public FSS_Partner {
public:
    static constexpr int64_t kTestMs = 60000;

    explicit FSS_TestPartner(FileSource* source);

    // After 60,000 ms: Partner when the table wants it (the slowest partner
    // is then dropped), else back to Transfering.
    bool tick(int elapsedMs) override;

private:
    int64_t testedMs_ = 0;
};

// The user is asked to partner (9).
class FSS_AskingPartner final : public PeerInterestedFSS {
public:
    static constexpr int64_t kAnswerMs = 60000;
    static constexpr int64_t kConnectMs = 240000;

    explicit FSS_AskingPartner(FileSource* source);
    ~FSS_AskingPartner() override;

    void newPeer(SourcePeer* connection) override;
    bool tick(int elapsedMs) override;
    bool openSlot() override;
    bool partnerAccepted(SourcePeer* connection) override;
    bool partnerRefused(SourcePeer* connection) override;
    void stopPartner() override;
    void pause() override;
    void peerClosed() override;
    void noNeededParts() override {}
    void requestChunks() override {}
    void tryPartner() override {}
    double partnerScore() override { return kNoPartner; }

private:
    bool inPartnerTable_ = true;
    int64_t askedMs_ = 0;
};

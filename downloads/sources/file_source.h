// FileSource: another client from which a download fetches its file. It
// keeps what is known about that user for this download: the user's
// record, the crumbs the user has, the file name it reported, our rank in
// its upload queue, its connection while there is one and up to three
// byte ranges requested and not yet received. Every event goes to the
// current state (FileSourceState), which decides what happens next; a
// state changes only through setState, which deletes the old state and
// then enters the new one.
//
// Weights: while a source lives, each crumb of its map counts the state's
// weight (1, a partner 10) in the download's range chooser; the requests
// hold ranges taken from the chooser and give them back when dropped.
//
// Made by the download (through the peer-source factory) and deleted by
// it. Everything runs on the task thread under the download's lock; the
// source takes no lock of its own.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "core/meta/user_meta.h"
#include "downloads/file_source_interface.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/string/owned_string.h"

class Download;
class FileSourceState;

class FileSource final : public FileSourceInterface {
public:
    // The part map counts as fresh this long after it was reported.
    static constexpr int kMapFreshMs = 900000;
    // A partner cool-down counts up from where it was set and ends above
    // this.
    static constexpr int kPartnerCooldownMs = 1200000;
    static constexpr int kRequestSlots = 3;

    // A copy of the user's record; connection may be null (the pool's
    // connection of that user is then adopted when there is one).
    FileSource(const UserMeta& user, Download* download, SourcePeer* connection);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // --- FileSourceInterface -------------------------------------------------
    double getSpeed() override;
    int statusCode() override;
    const char* userName() override;
    const char* fileName() override { return fileName_.isNull() ? "" : fileName_.c_str(); }
    UserMeta* userMeta() override { return &user_; }
    uint32_t queuePlace() override { return queueRank_; }
    BoolArray* partMap() override { return &partMap_; }
    bool isUser(const UserMeta* user) override;

    void pause() override;
    void cancel() override;
    void downloadComplete() override;
    void diskFull() override;
    void shutdown() override;
    void resetRetries() override;

    void peerClosed(SourcePeer* connection) override;
    // A map of another bit count than the file's crumbs is ignored.
    bool fileStatus(SourcePeer* connection, BoolArray* map) override;
    bool haveNotice(SourcePeer* connection, uint32_t crumb) override;
    void newPeer(SourcePeer* connection) override;
    bool uploadEnded(SourcePeer* connection) override;
    void placeInQueue(SourcePeer* connection, uint32_t rank) override;
    bool noFile(SourcePeer* connection) override;
    bool openSlot(SourcePeer* connection) override;
    void setFileName(const char* name, SourcePeer* connection) override;
    bool connectFailed(uint32_t ip, uint16_t port) override;
    void dataReceived(SourcePeer* connection) override;

    bool tryAsk() override;
    bool requestHashSet() override;
    void getRequests(uint64_t start[3], uint64_t end[3]) override;
    void requestChunks() override;
    // The range goes back to the chooser; later requests move down so that
    // the ones in use come first.
    void dropRequest(int index) override;

    double partnerScore() override;
    void tryPartner() override;
    void stopPartner() override;
    bool partnerAccepted(SourcePeer* connection) override;
    bool partnerRefused(SourcePeer* connection) override;
    bool partnerRequested(SourcePeer* connection) override;

    // Map age and partner cool-down, then the state's tick.
    bool tick(int elapsedMs) override;

    SourcePeer* connection() override { return connection_; }
    DownloadInterface* download() override;

    // --- for the states ---------------------------------------------------------
    // Deletes the current state, installs next and enters it. The caller
    // must not touch the old state afterwards.
    void setState(FileSourceState* next);
    FileSourceState* state() { return state_; }
    Download* owner() { return download_; }
    UserMeta& user() { return user_; }
    // Used by a state that connected without the pool's newPeer.
    void setConnection(SourcePeer* connection) { connection_ = connection; }
    // No status to ask for: the user is taken to have every crumb.
    void assumeComplete();
    // Every request's range goes back to the chooser.
    void releaseRequests();

    bool mapFresh() const { return mapFresh_; }
    int32_t retries() const { return retries_; }
    void setRetries(int32_t retries) { retries_ = retries; }
    int32_t partnerCooldown() const { return partnerCooldown_; }
    void setPartnerCooldown(int32_t ms) { partnerCooldown_ = ms; }
    double partnerSpeed() const { return partnerSpeed_; }
    void setPartnerSpeed(double speed) { partnerSpeed_ = speed; }
    void setQueueRank(uint32_t rank) { queueRank_ = rank; }
    int32_t mapAge() const { return mapAge_; }

    // Request slot i: [start, end); end 0 is a free slot.
    uint64_t requestStart(int i) const { return starts_[i]; }
    uint64_t requestEnd(int i) const { return ends_[i]; }
    void setRequest(int i, uint64_t start, uint64_t end) {
        starts_[i] = start;
        ends_[i] = end;
    }
    // Scratch of the take-over (speed, source), kept to spare allocations.
    std::vector<std::pair<double, FileSourceInterface*>>& scratch() { return scratch_; }

private:
    void adopt(SourcePeer* connection);
    bool own(SourcePeer* connection) const { return connection == connection_; }

    FileSourceState* state_ = nullptr;
    int32_t mapAge_ = 0;
    double partnerSpeed_ = 0.0;
    int32_t partnerCooldown_ = 0;
    int32_t retries_ = 0;
    UserMeta user_;
    BoolArray partMap_;
    uint32_t queueRank_ = 0;
    SourcePeer* connection_ = nullptr;
    OwnedString fileName_;
    Download* download_;
    bool mapFresh_ = false;
    uint64_t starts_[kRequestSlots] = {};
    uint64_t ends_[kRequestSlots] = {};
    std::vector<std::pair<double, FileSourceInterface*>> scratch_;
};

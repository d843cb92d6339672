// FileSource: another client from which a download fetches its file. It
// keeps what is known about that user for this download: the user's
// record, the crumbs the user has, the file name it reported, our rank in
// its upload queue, its connection while there is one and up to three
// byte ranges requested and not yet received. Every event goes to the
// current state (FileSourceState), which decides what happens next. A
// state hands the source its successor (setState) and returns; the source
// installs it once the outermost event is over, so no state is deleted
// while one of its operations runs.
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
#include <functional>
#include <memory>
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
    // The next state. Set during an event, it waits until the outermost
    // event returns; then the current state is deleted, next installed and
    // entered, and what afterwards added runs, in order. Set outside an
    // event, it is installed at once. A second one set in the same event
    // takes the first one's place.
    void setState(std::unique_ptr<FileSourceState> next);
    // Runs once the next state that was set is installed and entered (at
    // once when none waits): what a transition does after the change.
    void afterwards(std::function<void()> step);
    FileSourceState* state() { return state_.get(); }
    Download* owner() { return download_; }
    UserMeta& user() { return user_; }
    // Used by a state that connected without the pool's newPeer.
    void setConnection(SourcePeer* connection) {
        if (connection != connection_) hashSetAsked_ = false;
        connection_ = connection;
    }
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
    // One event handed to the state: the outermost one installs the state
    // set meanwhile when it ends.
    class Event {
    public:
        explicit Event(FileSource* source) : source_(source) { source_->depth_++; }
        ~Event() {
            if (--source_->depth_ == 0) source_->settle();
        }
        Event(const Event&) = delete;
        Event& operator=(const Event&) = delete;

    private:
        FileSource* source_;
    };

    // Installs and enters the waiting state (and whatever its entering
    // set), then runs the steps that came with it.
    void settle();
    void adopt(SourcePeer* connection);
    // While the download lacks its hash set, every connection the source
    // gets is asked for it once: the download's periodic request reaches
    // only sources connected at that moment, and a source may be let go
    // again soon (nothing needed from it, or all data there).
    void askHashSetOnce();
    bool own(SourcePeer* connection) const { return connection == connection_; }

    std::unique_ptr<FileSourceState> state_;
    // Set by a state during an event, installed when the event is over.
    std::unique_ptr<FileSourceState> pending_;
    std::vector<std::function<void()>> afterwards_;
    // Events on the stack.
    int depth_ = 0;
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
    // The hash set was asked for on the current connection.
    bool hashSetAsked_ = false;
    uint64_t starts_[kRequestSlots] = {};
    uint64_t ends_[kRequestSlots] = {};
    std::vector<std::pair<double, FileSourceInterface*>> scratch_;
};

// FileSourceState: what a download source does on each event. Every
// FileSource hands its events to one state object; a transition builds
// the next state and hands it to FileSource::setState. The source
// installs it once the event returns (the running state is deleted then,
// and the new one entered); what the transition does after the change
// goes to FileSource::afterwards, which runs it once the new state is in.
//
// The base class gives every operation its default; the states of
// connecting_states.h, transfer_states.h and partner_states.h override
// what they handle. Together they are the whole machine:
//
//   Unasked -> (connect) WaitForConnection -> connected path
//   connected path: map fresh -> OnQueue / NoNeededParts; else the status
//     is asked (WaitForChunksBQ) or, for a small file, assumed complete
//   OnQueue -> (slot open) Transfering -> (nothing left) NoNeededParts or
//     WaitForChunks; failures -> Gone (back-off) -> Unasked; six in a
//     row, or no file -> BadSource (deleted at the next tick)
//   partners: AskingPartner, TransferingAskingPartner -> TestPartner ->
//     Partner
//
// "Own" connection: the event's connection is the source's connection.
// "The slot is handed on": a use of the connection is taken, the state
// changes, and MSG_OPEN_SLOT carries the connection to the download pool,
// which offers the upload slot we hold to another download of that user
// or gives it back (and lets go of the use).
//
// Everything runs on the task thread inside the download's calls.
#pragma once

#include <cstdint>

class FileSource;
class SourcePeer;

// Source status codes: what FileSourceInterface::statusCode reports, shown
// as the string-table entry code + 78.
enum SourceStatusCode : int {
    kFssUnasked = 0,
    kFssWaitConnection = 1,
    kFssWaitChunksBQ = 2,
    kFssOnQueue = 3,
    kFssWaitChunks = 4,
    kFssTransferring = 5,
    kFssBadSource = 6,
    kFssGone = 7,
    kFssNoNeeded = 8,
    kFssAskingPartner = 9,
    kFssPartner = 10,
};

class FileSourceState {
public:
    // The partner score of a source that is not a candidate.
    static constexpr double kNoPartner = -1.0;
    // The score of a candidate never measured as a partner.
    static constexpr double kUntriedPartner = 100.0;

    FileSourceState(FileSource* source, int statusCode) : source_(source), statusCode_(statusCode) {}
    virtual ~FileSourceState() = default;
    FileSourceState(const FileSourceState&) = delete;
    FileSourceState& operator=(const FileSourceState&) = delete;

    int statusCode() const { return statusCode_; }

    // What this source adds to each of its crumbs in the range chooser.
    virtual int32_t weight() { return 1; }
    // Bytes per millisecond.
    virtual double getSpeed() { return 0.0; }
    // Called once the state is installed: the requests go back.
    virtual void enter();
    // Nothing more to fetch from this user: NoNeededParts.
    virtual void noNeededParts();
    virtual void pause() {}
    // The user leaves the asked-source list; BadSource.
    virtual void cancel();
    virtual void diskFull() { pause(); }
    // The download has all its data. What the source holds goes as on
    // cancel (the asked-source entry, a granted slot), but the source
    // stays, Unasked: the final check may send the download back to
    // fetching, and then its sources fetch again without the user's help.
    // A finished download deletes its sources anyway.
    virtual void downloadComplete();
    virtual void shutdown() {}
    virtual void resetRetries();
    virtual bool tryAsk() { return false; }
    virtual void requestChunks() {}
    // The source took the connection without the pool's newPeer.
    virtual void refPeer(SourcePeer* connection) { (void)connection; }
    // The source adopted the connection (or had it): the connected path.
    virtual void newPeer(SourcePeer* connection);
    // The user opened an upload slot for us: Transfering.
    virtual bool openSlot();
    virtual void partMapChanged() {}
    virtual bool uploadEnded(SourcePeer* connection) { (void)connection; return false; }
    // The source's connection closed: Gone.
    virtual void peerClosed();
    virtual void dataReceived(SourcePeer* connection) { (void)connection; }
    virtual bool noFile(SourcePeer* connection) { (void)connection; return false; }
    virtual void placeInQueue(SourcePeer* connection, uint32_t rank);
    // A direct connect to the user's address failed: Gone.
    virtual bool connectFailed(uint32_t ip, uint16_t port);
    // False makes the download delete the source.
    virtual bool tick(int elapsedMs) { (void)elapsedMs; return true; }
    virtual void tryPartner();
    virtual double partnerScore();
    virtual void stopPartner() {}
    virtual bool partnerAccepted(SourcePeer* connection) { (void)connection; return false; }
    virtual bool partnerRefused(SourcePeer* connection) { (void)connection; return false; }
    // The user asked us to partner (and we accepted): TestPartner.
    virtual bool partnerRequested(SourcePeer* connection);

protected:
    // The source's connection was just adopted: with a fresh map the user
    // is asked for a slot when it has crumbs we need; otherwise its status
    // is asked, or, for a small file, it is taken to have everything.
    void connectedPath();
    // Step 1 of the connected path.
    void queueOrNothingNeeded();
    bool sameUser(SourcePeer* connection) const;
    bool own(SourcePeer* connection) const;

    // The slot is handed on in three steps: takeSlot before the state
    // changes (a use of the connection, or null), passSlot after it.
    static SourcePeer* takeSlot(FileSource* source);
    static void passSlot(SourcePeer* connection);

    FileSource* source_;

private:
    int statusCode_;
};

// A state that holds a use of the source's connection while it lives.
class PeerInterestedFSS : public FileSourceState {
public:
    static constexpr const char* kUseTag = "FileSourceState";

    PeerInterestedFSS(FileSource* source, int statusCode);
    ~PeerInterestedFSS() override;

    void refPeer(SourcePeer* connection) override { hold(connection); }
    void newPeer(SourcePeer* connection) override;

protected:
    // Takes a use of the connection unless this state holds one already.
    void hold(SourcePeer* connection);

private:
    SourcePeer* held_ = nullptr;
};

// FileSourceInterface: how a download talks to each of its sources, a peer
// (the peer-source kind) or a source made from a link by a protocol (such
// as HTTP). The download forwards the per-download messages of the peer
// protocol, the peer pool's events and its own commands; the operations
// with a default here are the ones a source kind may ignore.
//
// Connections are the download side's SourcePeer faces. A source
// recognises its own connection by pointer; operations marked "own" do
// nothing (false) for any other connection.
//
// All calls run on the task thread, serialised by the download's lock;
// sources take no lock of their own.
#pragma once

#include <cstdint>

class BoolArray;
class DownloadInterface;
class SourcePeer;
class UserMeta;

class FileSourceInterface {
public:
    virtual ~FileSourceInterface() = default;

    // Current speed, bytes per millisecond.
    virtual double getSpeed() = 0;
    // Source status 0 to 10 (shown as string-table entry code + 78).
    virtual int statusCode() { return 0; }
    virtual const char* userName() { return nullptr; }
    // The name under which the source has the file.
    virtual const char* fileName() { return nullptr; }
    virtual UserMeta* userMeta() { return nullptr; }
    // The rank the user last reported for us in its upload queue.
    virtual uint32_t queuePlace() { return 0; }
    // The crumbs the source has (crumbCount bits), or null.
    virtual BoolArray* partMap() { return nullptr; }
    // Whether the link names this very source (then it only gets
    // resetRetries instead of a twin).
    virtual bool matchesLink(const char* link) { (void)link; return false; }
    virtual bool isUser(const UserMeta* user) { (void)user; return false; }

    // Download commands.
    virtual void pause() = 0;
    virtual void cancel() = 0;
    virtual void downloadComplete() = 0;
    virtual void diskFull() = 0;
    virtual void shutdown() = 0;
    virtual void resetRetries() {}

    // Peer events and messages.
    virtual void peerClosed(SourcePeer* connection) { (void)connection; }
    // Own: the source's crumb map (crumbCount bits, not kept).
    virtual bool fileStatus(SourcePeer* connection, BoolArray* map) { (void)connection, (void)map; return false; }
    // Own: one more crumb the source has.
    virtual bool haveNotice(SourcePeer* connection, uint32_t crumb) { (void)connection, (void)crumb; return false; }
    virtual void newPeer(SourcePeer* connection) { (void)connection; }
    virtual bool uploadEnded(SourcePeer* connection) { (void)connection; return false; }
    virtual void placeInQueue(SourcePeer* connection, uint32_t rank) { (void)connection, (void)rank; }
    virtual bool noFile(SourcePeer* connection) { (void)connection; return false; }
    // Own: an upload slot opened for us.
    virtual bool openSlot(SourcePeer* connection) { (void)connection; return false; }
    virtual void setFileName(const char* name, SourcePeer* connection) { (void)name, (void)connection; }
    virtual bool connectFailed(uint32_t ip, uint16_t port) { (void)ip, (void)port; return false; }
    // Data from the connection was written; the source takes the received
    // bytes off its requests.
    virtual void dataReceived(SourcePeer* connection) { (void)connection; }

    // Work the download asks for.
    // Starts work (connect, ask); true when it did something.
    virtual bool tryAsk() { return false; }
    // Asks for the file's hash set; true when a request went out.
    virtual bool requestHashSet() { return false; }
    // The byte ranges requested and not yet received, [start[i], end[i]);
    // a free slot is 0, 0.
    virtual void getRequests(uint64_t start[3], uint64_t end[3]) {
        for (int i = 0; i < 3; i++) start[i] = end[i] = 0;
    }
    virtual void requestChunks() {}
    virtual void dropRequest(int index) { (void)index; }

    // Partners (the Highest download and the partner table).
    virtual double partnerScore() { return -1.0; }
    virtual void tryPartner() {}
    virtual void stopPartner() {}
    virtual bool partnerAccepted(SourcePeer* connection) { (void)connection; return false; }
    virtual bool partnerRefused(SourcePeer* connection) { (void)connection; return false; }
    virtual bool partnerRequested(SourcePeer* connection) { (void)connection; return false; }

    // Elapsed milliseconds; false tells the download to delete the source.
    virtual bool tick(int elapsedMs) { (void)elapsedMs; return true; }

    // The source's connection, or null (always null for link sources).
    virtual SourcePeer* connection() { return nullptr; }
    // The download the source belongs to.
    virtual DownloadInterface* download() = 0;
};

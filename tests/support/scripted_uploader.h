// ScriptedUploader: the other side of a FakeSourcePeer for a download of
// real data. It answers what the download's peer sources sent to the peer
// as an uploader would: a file status of every crumb, a slot at once for
// an upload request, the bytes asked for (in data messages of at most
// kPiece bytes, with the bytes at `flipped` offsets changed), and the
// hash set when it is willing to give it. A part request's ranges that
// the previous request named are on their way already and not sent again.
//
//   support::ScriptedUploader a(world, world.peer, data);
//   a.givesHashSet = false;
//   download->addSource(&world.peer.record, nullptr);
//   while (a.serve(download) > 0) world.settle();
#pragma once

#include <cstdint>
#include <vector>

#include "support/bytes.h"
#include "support/download_fakes.h"

class Download;

namespace support {

class DownloadWorld;

class ScriptedUploader {
public:
    static constexpr uint64_t kPiece = 65536;

    ScriptedUploader(DownloadWorld& world, FakeSourcePeer& peer, const Bytes& data)
        : world_(world), peer_(peer), data_(data) {}

    // Answers everything the peer was sent since the last call, and what
    // those answers made the download send; returns how many messages it
    // answered.
    int serve(Download* download);

    bool givesHashSet = true;
    std::vector<uint64_t> flipped;
    // What was asked and sent so far.
    int hashSetRequests = 0;
    int uploadRequests = 0;
    uint64_t bytesSent = 0;
    // The ranges sent, in order.
    std::vector<std::pair<uint64_t, uint64_t>> ranges;

private:
    void sendRange(Download* download, uint64_t start, uint64_t end);

    DownloadWorld& world_;
    FakeSourcePeer& peer_;
    Bytes data_;
    // The ranges of the last part request.
    std::vector<std::pair<uint64_t, uint64_t>> lastAsked_;
};

}  // namespace support

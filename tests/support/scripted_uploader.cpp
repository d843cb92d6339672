#include "support/scripted_uploader.h"

#include <algorithm>

#include "downloads/pool/download.h"
#include "support/download_world.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "v4ada/containers/bool_array.h"

namespace support {

void ScriptedUploader::sendRange(Download* download, uint64_t start, uint64_t end) {
    ranges.emplace_back(start, end);
    for (uint64_t at = start; at < end; at += kPiece) {
        uint64_t stop = std::min(end, at + kPiece);
        Bytes payload(data_.begin() + static_cast<long>(at), data_.begin() + static_cast<long>(stop));
        for (uint64_t offset : flipped) {
            if (offset >= at && offset < stop) payload[offset - at] ^= 0x01;
        }
        ByteReader reader(cat({le32(static_cast<uint32_t>(at)), le32(static_cast<uint32_t>(stop)), payload}));
        download->dataReceived(reader.file(), &peer_);
        bytesSent += stop - at;
    }
}

int ScriptedUploader::serve(Download* download) {
    int answered = 0;
    // Answers make the download send more: bounded, in case it never stops.
    for (int round = 0; round < 10000 && !peer_.outbox.empty(); round++) {
        std::vector<FakeSourcePeer::Sent> sent;
        sent.swap(peer_.outbox);
        for (const FakeSourcePeer::Sent& message : sent) {
            answered++;
            if (message.what == "fileStatusRequest") {
                BoolArray all(download->crumbCount());
                all.setAll(true);
                download->fileStatus(&peer_, &all);
            } else if (message.what == "uploadRequest") {
                uploadRequests++;
                // The slot opens at once; the pool lets go of the use the
                // connection takes for it.
                peer_.addRef("slot open");
                world_.pool->openSlot(peer_.connection);
            } else if (message.what == "hashSetRequest") {
                hashSetRequests++;
                if (!givesHashSet) continue;
                PartDigests digests(data_);
                ByteReader sets(digests.hashSets());
                download->setHashSetWithCrumbs(sets.file());
            } else if (message.what == "partRequest") {
                // A request repeats the ranges still on their way with the
                // new ones: as an uploader does, only new ones are sent.
                std::vector<std::pair<uint64_t, uint64_t>> asked;
                for (int i = 0; i < 3; i++) {
                    if (message.starts[i] >= message.ends[i]) continue;
                    std::pair<uint64_t, uint64_t> range{message.starts[i], message.ends[i]};
                    asked.push_back(range);
                    if (std::find(lastAsked_.begin(), lastAsked_.end(), range) == lastAsked_.end())
                        sendRange(download, range.first, range.second);
                }
                lastAsked_ = asked;
            }
        }
        world_.settle();
    }
    return answered;
}

}  // namespace support

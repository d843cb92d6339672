// Scripted peers fetch a shared file from a running tandrel: an upload
// request opens a slot, a part request brings the file's bytes, an unknown
// hash is no such file, and with every slot busy a request waits in the
// queue and hears its rank.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "console/tandrel_process_fixture.h"
#include "core/meta/special_tags.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/peer/iclt_opcodes.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/part_hash.h"

namespace {

constexpr int kWaitMs = 20000;
// Large enough that a peer that stops reading keeps its slot busy.
constexpr uint32_t kFileSize = 8u << 20;

std::string ranges(uint32_t start, uint32_t end) {
    return support::le32s(start) + support::le32s(0) + support::le32s(0) + support::le32s(end) +
           support::le32s(0) + support::le32s(0);
}

class TandrelUploads : public TandrelTest {
protected:
    // A peer after its hello (the answer taken off its frames).
    std::unique_ptr<support::FrameClient> greet(int number) {
        auto peer = std::make_unique<support::FrameClient>(support::raw_connect(doorLease_.port()));
        std::string nick = "peer" + std::to_string(number);
        UserMeta user = support::makeUser(nick.c_str(), 0, static_cast<uint16_t>(40000 + number),
                                          static_cast<uint8_t>(number));
        peer->send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
        EXPECT_TRUE(peer->awaitFrames(1, kWaitMs));
        if (!peer->frames.empty()) peer->frames.erase(peer->frames.begin());
        return peer;
    }
    // Shares a file of size patterned bytes (kept in bytes_, its hash as
    // it goes on the wire in hashText_) from a directory of its own, starts
    // the client and waits until its shares are loaded.
    void startSharing(const char* name, uint32_t size) {
        std::string shared = path("shared");
        std::string file = shared + "/" + name;
        bytes_.assign(size, '\0');
        for (uint32_t i = 0; i < size; i++) bytes_[i] = static_cast<char>((i * 7 + i / 4096) % 251);
        ASSERT_TRUE(support::write_file(file, bytes_));
        ASSERT_TRUE(support::write_file(path("share.dat"), support::counted_text(shared)));
        UniqueID hash;
        ASSERT_TRUE(hashFileParts(hash.bytes(), file.c_str(), kPartSizeKiB, nullptr));
        hashText_ = support::hashBytes(hash);
        ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
        ASSERT_TRUE(wait_for_shares_loaded(process_, kWaitMs)) << process_.raw();
    }
    // The frames up to the first of that opcode (which is the last one).
    bool awaitOpcode(support::FrameClient& peer, uint8_t opcode) {
        for (size_t seen = 0;; seen++) {
            if (!peer.awaitFrames(seen + 1, kWaitMs)) return false;
            if (peer.frames[seen].opcode == opcode) return true;
        }
    }

    std::string bytes_;
    std::string hashText_;
};

TEST_F(TandrelUploads, PeersQueueForAndFetchASharedFile) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    ASSERT_NO_FATAL_FAILURE(startSharing("big.bin", kFileSize));
    const std::string& hashText = hashText_;
    const std::string& bytes = bytes_;

    // An upload request: a free slot invites the peer at once.
    auto first = greet(1);
    first->send(ICLT_UPLOAD_REQUEST, hashText);
    ASSERT_TRUE(first->awaitFrames(1, kWaitMs));
    EXPECT_EQ(first->frames[0].opcode, ICLT_SLOT_OPEN);
    // Its part request brings the bytes of the range.
    const uint32_t wanted = 300000;
    first->send(ICLT_PART_REQUEST, hashText + ranges(1000, 1000 + wanted));
    std::string got;
    uint32_t next = 1000;
    for (size_t at = 1; got.size() < wanted; at++) {
        ASSERT_TRUE(first->awaitFrames(at + 1, kWaitMs)) << got.size();
        const support::Frame& frame = first->frames[at];
        ASSERT_EQ(frame.opcode, ICLT_DATA);
        ASSERT_EQ(frame.payload.substr(0, 16), hashText);
        EXPECT_EQ(frame.payload.substr(16, 4), support::le32s(next));
        std::string piece = frame.payload.substr(24);
        EXPECT_EQ(frame.payload.substr(20, 4), support::le32s(next + static_cast<uint32_t>(piece.size())));
        next += static_cast<uint32_t>(piece.size());
        got += piece;
    }
    EXPECT_TRUE(got == bytes.substr(1000, wanted));

    // A hash that is not shared.
    std::string unknown = support::hashBytes(support::hashOf(0x5A));
    size_t before = first->frames.size();
    first->send(ICLT_PART_REQUEST, unknown + ranges(0, 100));
    ASSERT_TRUE(awaitOpcode(*first, ICLT_NO_SUCH_FILE));
    EXPECT_EQ(first->frames.back().payload, unknown);
    EXPECT_GT(first->frames.size(), before);
    // The first peer goes, and its upload with it: a served upload would
    // otherwise hold its slot a moment longer, waiting for a further
    // request.
    first.reset();

    // Peers that stop reading keep their slots busy. The slot tuner may
    // add one test slot meanwhile (not another for 30 s): a peer a new slot
    // takes becomes one more busy peer.
    std::vector<std::unique_ptr<support::FrameClient>> busy;
    for (int number = 2;; number++) {
        ASSERT_LT(number, 8);
        auto peer = greet(number);
        peer->send(ICLT_PART_REQUEST, hashText + ranges(0, kFileSize));
        ASSERT_TRUE(peer->awaitFrames(1, kWaitMs));
        if (peer->frames[0].opcode == ICLT_SLOT_OPEN) {
            busy.push_back(std::move(peer));
            continue;
        }
        // No slot took it: it waits, and hears its rank.
        EXPECT_GE(busy.size(), 2u);
        EXPECT_EQ(peer->frames[0].opcode, ICLT_SLOT_CLOSED);
        ASSERT_TRUE(peer->awaitFrames(2, kWaitMs));
        EXPECT_EQ(peer->frames[1].opcode, ICLT_QUEUE_RANK);
        EXPECT_EQ(peer->frames[1].payload.size(), 4u);
        break;
    }

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
    // The queue was kept.
    EXPECT_TRUE(exists("uploadq.dat"));
}

// A downloader lists every range it has not read whole in each part
// request, and asks for a range again when its data failed a check.
TEST_F(TandrelUploads, ARangeAskedForAgainIsSentAgainAndOneStillOnItsWayIsNot) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    ASSERT_NO_FATAL_FAILURE(startSharing("ranges.bin", 1u << 20));
    const std::string& hashText = hashText_;
    const std::string& bytes = bytes_;

    auto peer = greet(1);
    peer->send(ICLT_UPLOAD_REQUEST, hashText);
    ASSERT_TRUE(peer->awaitFrames(1, kWaitMs));
    ASSERT_EQ(peer->frames[0].opcode, ICLT_SLOT_OPEN);
    size_t seen = 1;
    using Range = std::pair<uint32_t, uint32_t>;
    // Sends a part request of the ranges, then reads data frames until the
    // expected ranges came whole, in order: each frame must continue them.
    auto ask = [&](std::vector<Range> asked, std::vector<Range> sent) {
        std::string request = hashText;
        for (size_t i = 0; i < 3; i++) request += support::le32s(i < asked.size() ? asked[i].first : 0);
        for (size_t i = 0; i < 3; i++) request += support::le32s(i < asked.size() ? asked[i].second : 0);
        peer->send(ICLT_PART_REQUEST, request);
        for (const Range& range : sent) {
            for (uint32_t next = range.first; next < range.second; seen++) {
                ASSERT_TRUE(peer->awaitFrames(seen + 1, kWaitMs)) << "range at " << range.first;
                const support::Frame& frame = peer->frames[seen];
                ASSERT_EQ(frame.opcode, ICLT_DATA);
                ASSERT_EQ(frame.payload.substr(16, 4), support::le32s(next)) << "range at " << range.first;
                const std::string piece = frame.payload.substr(24);
                ASSERT_TRUE(piece == bytes.substr(next, piece.size())) << next;
                next += static_cast<uint32_t>(piece.size());
            }
        }
    };
    const Range a{0, 100000}, b{100000, 200000}, c{200000, 300000}, d{300000, 400000};
    ask({a, b, c}, {a, b, c});
    ASSERT_FALSE(HasFatalFailure());
    // B was read, so A, sent before it, has come too and is asked for
    // again; C, sent after B, may still be on its way.
    ask({a, c, d}, {a, d});
    ASSERT_FALSE(HasFatalFailure());
    // Every range sent after C was read: C listed alone is asked for again.
    ask({c}, {c});
    ASSERT_FALSE(HasFatalFailure());
    // And nothing more was sent: the pong comes next.
    peer->send(ICLT_PING, "");
    ASSERT_TRUE(peer->awaitFrames(seen + 1, kWaitMs));
    EXPECT_EQ(peer->frames[seen].opcode, ICLT_PONG);

    peer.reset();
    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
}

}  // namespace

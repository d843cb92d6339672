// What a transferring source asks for: the length cap by the hello's
// check, whole ranges rarest first, taking ranges over from slower
// sources, the end of the needed crumbs, and the requests' bookkeeping.
#include <string>
#include <vector>

#include "downloads/pool/dl_pool.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/source_list.h"
#include "downloads/sources/source_fixture.h"
#include "downloads/sources/transfer_states.h"
#include "support/memory_files.h"

namespace sourcetest {
namespace {

using Strings = std::vector<std::string>;

class SourceRequestsTest : public SourceTest {
protected:
    static std::string requests(FileSource* s) {
        uint64_t starts[3];
        uint64_t ends[3];
        s->getRequests(starts, ends);
        std::string out;
        for (int i = 0; i < 3; i++) out += (i ? " " : "") + std::to_string(starts[i]) + "-" + std::to_string(ends[i]);
        return out;
    }
    // The source's connection delivered [start, end) of the file.
    void deliver(FileSource* s, uint64_t start, uint64_t end) {
        support::Bytes payload(end - start, 0x5A);
        support::ByteReader reader(payload);
        download_->partialFile()->write(reader.file(), start, end);
        s->dataReceived(s->connection());
    }
};

TEST_F(SourceRequestsTest, CapByHelloCheck) {
    struct Case {
        int32_t verified;
        const char* sent;
    };
    // A fresh crumb is offered as two halves of 243,200 bytes; an
    // unverified user gets at most 184,320 bytes per request.
    const Case cases[] = {
        {1, "p partRequest 486400-729600 729600-972800 0-0"},
        {0, "p partRequest 486400-670720 670720-729600 729600-913920"},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verified);
        if (!first) {
            TearDown();
            SetUp();
        }
        first = false;
        FileSource* s = connected();
        s->user().setHelloVerified(c.verified);
        status(s, "0100");
        world_->log.take();
        put<FSS_Transfering>(s, 0);
        EXPECT_EQ(sends(), Strings{c.sent});
    }
}

TEST_F(SourceRequestsTest, ReceivedRequestsMoveDownAndNewOnesFollow) {
    FileSource* s = connected();
    status(s, "1100");
    put<FSS_Transfering>(s, 0);
    std::string before = requests(s);
    world_->log.take();
    uint64_t starts[3];
    uint64_t ends[3];
    s->getRequests(starts, ends);
    // Part of request 0: nothing moves.
    deliver(s, starts[0], starts[0] + 1000);
    EXPECT_EQ(requests(s), before);
    EXPECT_TRUE(sends().empty());
    // The rest of it: 1 and 2 move down, a new range takes slot 2.
    deliver(s, starts[0] + 1000, ends[0]);
    uint64_t now[3];
    uint64_t nowEnds[3];
    s->getRequests(now, nowEnds);
    EXPECT_EQ(now[0], starts[1]);
    EXPECT_EQ(now[1], starts[2]);
    EXPECT_NE(nowEnds[2], 0u);
    Strings sent = sends();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "p partRequest " + requests(s));
    // The same data from another connection is not this source's.
    s->dataReceived(q_);
    EXPECT_TRUE(sends().empty());
}

TEST_F(SourceRequestsTest, OpenSlotSendsTheCurrentRequestsAgain) {
    FileSource* s = connected();
    status(s, "1000");
    put<FSS_Transfering>(s, 0);
    world_->log.take();
    EXPECT_TRUE(s->openSlot(p_));
    EXPECT_EQ(sends(), Strings{"p partRequest 0-243200 243200-486400 0-0"});
}

TEST_F(SourceRequestsTest, TakeOverFromASourceMoreThanHalfAgainSlower) {
    struct Case {
        double fast;
        bool takes;
    };
    // The slow source runs at 10 bytes per ms.
    for (const Case& c : {Case{15.0, false}, Case{15.01, true}}) {
        SCOPED_TRACE(c.fast);
        TearDown();
        SetUp();
        FileSource* slow = another("b", 0x0B000001);
        faces_.back()->average = 10.0;
        p_->average = c.fast;
        status(slow, "0100");
        put<FSS_Transfering>(slow, 0);
        // The slow source holds both halves of crumb 1.
        std::string held = requests(slow);
        FileSource* fast = connected();
        status(fast, "0100");
        world_->log.take();
        put<FSS_Transfering>(fast, 0);
        Strings sent = sends();
        if (!c.takes) {
            EXPECT_EQ(requests(slow), held);
            EXPECT_EQ(stateOf(fast), "FSS_NoNeededParts") << "nothing to pick, nothing taken";
            continue;
        }
        // The slow source's highest request within crumb 1 went to the fast
        // one; the slow one asked for crumb 1's other half instead.
        uint64_t starts[3];
        uint64_t ends[3];
        fast->getRequests(starts, ends);
        EXPECT_EQ(starts[0] / 486400, 1u);
        EXPECT_EQ(stateOf(fast), "FSS_Transfering");
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back(), "p partRequest " + requests(fast));
        EXPECT_NE(requests(slow), held);
        // No byte is asked of both.
        uint64_t slowStarts[3];
        uint64_t slowEnds[3];
        slow->getRequests(slowStarts, slowEnds);
        for (int i = 0; i < 3; i++) {
            for (int j = 0; j < 3; j++) {
                if (ends[i] == 0 || slowEnds[j] == 0) continue;
                EXPECT_TRUE(ends[i] <= slowStarts[j] || slowEnds[j] <= starts[i]);
            }
        }
    }
}

TEST_F(SourceRequestsTest, NothingNeededGivesTheSlotUpOrAsksForAFreshMap) {
    struct Case {
        const char* what;
        bool fresh;
        bool statusSent;
        const char* state;
        Strings sent;
    };
    const Case cases[] = {
        {"fresh map", true, true, "FSS_NoNeededParts", {"p slotRelease"}},
        {"stale map", false, true, "FSS_WaitForChunks", {"p fileStatusRequest"}},
        // No status for a small file: the user is taken to have it all.
        {"stale map, small file", false, false, "FSS_Transfering",
         {"p fileStatusRequest", "p partRequest 0-243200 243200-486400 0-0"}},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!first) {
            TearDown();
            SetUp();
        }
        first = false;
        FileSource* s = connected();
        status(s, "0000");
        if (!c.fresh) s->tick(FileSource::kMapFreshMs + 1);
        // Every range of crumbs 1 to 3 is taken by others.
        for (const char* name : {"b", "c"}) {
            FileSource* other = another(name, name[0] == 'b' ? 0x0B000001 : 0x0B000002);
            status(other, "0111");
            put<FSS_Transfering>(other, 0);
        }
        p_->statusAnswer = c.statusSent;
        world_->log.take();
        put<FSS_Transfering>(s, 0);
        pump();
        EXPECT_EQ(stateOf(s), c.state);
        Strings sent;
        for (const std::string& line : sends()) {
            if (line.rfind("p ", 0) == 0) sent.push_back(line);
        }
        EXPECT_EQ(sent, c.sent);
    }
}

// A source that found every range of its crumbs taken gave its slot back
// and waits in NoNeededParts; the source holding them loses its connection
// mid-range and gives them back. At the download's next tick the waiting
// one goes on, asks its user for a slot again and, once granted, takes
// them: it does not wait for its map to go stale, nor for the other to
// come back.
TEST_F(SourceRequestsTest, RangesGivenBackGoToASourceThatFoundNothingToTake) {
    FileSource* holder = another("b", 0x0B000001);
    FakeSourcePeer* b = faces_.back().get();
    status(holder, "1000");
    put<FSS_Transfering>(holder, 0);
    FileSource* waiting = connected();
    status(waiting, "1000");
    SourceList::instance()->askOnce(p_, download_->fileHash());
    put<FSS_Transfering>(waiting, 0);
    pump();
    ASSERT_EQ(stateOf(waiting), "FSS_NoNeededParts");
    // Not a partner candidate meanwhile (the download is the Highest).
    waiting->setPartnerCooldown(1);
    world_->peers.connectResult = SourcePeerPool::kConnected;
    world_->peers.connectTo = p_;
    for (int i = 0; i < 3; i++) world_->step(DLPool::kGateMs + 1);
    EXPECT_EQ(stateOf(waiting), "FSS_NoNeededParts") << "nothing came free";
    world_->log.take();

    holder->peerClosed(b);
    world_->step(DLPool::kGateMs + 1);
    EXPECT_EQ(stateOf(waiting), "FSS_OnQueue");
    Strings asked;
    for (const std::string& line : sends()) {
        if (line.rfind("p ", 0) == 0) asked.push_back(line);
    }
    EXPECT_EQ(asked, Strings{"p uploadRequest"});
    EXPECT_TRUE(download_->openSlot(p_));
    EXPECT_EQ(sends(), Strings{"p partRequest 0-243200 243200-486400 0-0"});
}

TEST_F(SourceRequestsTest, DropRequestKeepsTheRequestsInFront) {
    struct Case {
        const char* before;  // slots in use
        int drop;
        const char* after;
    };
    // a, b, c stand for three ranges; '-' is a free slot.
    const Case cases[] = {
        {"abc", 0, "b-c"}, {"abc", 1, "ac-"}, {"abc", 2, "ab-"}, {"ab-", 0, "b--"},
        {"a-c", 0, "c--"}, {"-bc", 2, "b--"}, {"abc", 3, "abc"}, {"abc", -1, "abc"},
    };
    const uint64_t ranges[3][2] = {{0, 1000}, {486400, 487400}, {972800, 973800}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " drop " + std::to_string(c.drop));
        FileSource* s = unconnected();
        for (int i = 0; i < 3; i++) {
            if (c.before[i] == '-') continue;
            int r = c.before[i] - 'a';
            s->setRequest(i, ranges[r][0], ranges[r][1]);
        }
        s->dropRequest(c.drop);
        std::string after;
        for (int i = 0; i < 3; i++) {
            char name = '-';
            for (int r = 0; r < 3; r++) {
                if (s->requestEnd(i) == ranges[r][1] && s->requestStart(i) == ranges[r][0]) name = static_cast<char>('a' + r);
            }
            after += name;
        }
        EXPECT_EQ(after, c.after);
        remove(s);
    }
}

}  // namespace
}  // namespace sourcetest

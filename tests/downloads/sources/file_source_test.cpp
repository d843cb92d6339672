// FileSource itself: what it adopts when made, which messages it takes as
// its own, its part map and weights, its uses of the connection, its
// status texts, and the factory that start-up installs.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/strings/string_table.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/peer_sources.h"
#include "downloads/sources/source_fixture.h"
#include "downloads/sources/transfer_states.h"
#include "support/memory_files.h"
#include "support/part_digests.h"

namespace sourcetest {
namespace {

using Strings = std::vector<std::string>;

class FileSourceTest : public SourceTest {};

TEST_F(FileSourceTest, MadeForAUserAdoptsItsConnection) {
    p_->record.setNickname("nick");
    FileSource* s = connected();
    EXPECT_EQ(s->connection(), p_);
    EXPECT_EQ(s->user().helloVerified(), 1) << "the connection's record";
    EXPECT_STREQ(s->userName(), "nick");
    EXPECT_EQ(world_->log.take(), Strings{"p fileNameRequest"});
    EXPECT_EQ(s->statusCode(), kFssUnasked);
    EXPECT_FALSE(s->mapFresh());

    FileSource* lone = unconnected();
    EXPECT_EQ(lone->connection(), nullptr);
    EXPECT_TRUE(world_->log.take().empty());
    EXPECT_EQ(std::string(lone->fileName()), "");
    EXPECT_FALSE(lone->requestHashSet());
    EXPECT_TRUE(s->requestHashSet());
    EXPECT_EQ(world_->log.take(), Strings{"p hashSetRequest"});
}

// A download of two parts whose hash set is not known asks every
// connection its source gets, once, as it gets it; a known set is asked of
// nobody.
TEST_F(FileSourceTest, EachConnectionIsAskedOnceForAMissingHashSet) {
    support::Bytes data = support::pattern_bytes(9728000 + 1000, 5);
    Download* two = world_->start(data, "two.bin", false);
    ASSERT_FALSE(two->partialFile()->hashSetKnown());
    world_->log.take();
    auto* s = new FileSource(p_->record, two, nullptr);
    two->sources()->append(s);
    EXPECT_EQ(world_->log.starting("p hashSetRequest").size(), 1u) << "made with the user's connection";
    s->newPeer(p_);
    EXPECT_EQ(world_->log.starting("p hashSetRequest").size(), 1u) << "the same connection again";
    s->peerClosed(p_);
    world_->log.take();
    s->newPeer(p_);
    EXPECT_EQ(world_->log.starting("p hashSetRequest").size(), 1u) << "a connection adopted anew";

    support::PartDigests digests(data);
    support::ByteReader sets(digests.hashSets());
    ASSERT_TRUE(two->setHashSetWithCrumbs(sets.file()));
    s->peerClosed(p_);
    world_->log.take();
    s->newPeer(p_);
    EXPECT_TRUE(world_->log.starting("p hashSetRequest").empty()) << "the set is known";
    FileSource* known = connected();
    (void)known;
    EXPECT_TRUE(world_->log.starting("p hashSetRequest").empty()) << "a download of one part knows its set";
    two->detachSources();
}

TEST_F(FileSourceTest, OneCrumbFileIsCompleteForAConnectedSource) {
    Download* small = world_->start(support::pattern_bytes(1000, 3), "one.bin");
    ASSERT_EQ(small->crumbCount(), 1u);
    struct Case {
        const char* what;
        FakeSourcePeer* user;
        SourcePeer* given;
        bool set;
    };
    // p is in the pool, q is not.
    const Case cases[] = {
        {"made with its connection", p_, p_, true},
        {"made without, the user connected", p_, nullptr, false},
        {"made without, the user not connected", q_, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileSource s(c.user->record, small, c.given);
        EXPECT_EQ(s.partMap()->get(0), c.set);
        EXPECT_EQ(s.mapFresh(), c.set);
        EXPECT_EQ(small->progress()->weight(0), c.set ? 1 : 0);
    }
    EXPECT_EQ(small->progress()->weight(0), 0);
}

TEST_F(FileSourceTest, MapsAndNoticesFromItsOwnConnectionOnly) {
    FileSource* s = connected();
    std::unique_ptr<BoolArray> m = map("1010");
    EXPECT_FALSE(s->fileStatus(q_, m.get())) << "another connection's map";
    EXPECT_EQ(weights(), "0 0 0 0");
    EXPECT_TRUE(s->fileStatus(p_, m.get()));
    EXPECT_EQ(weights(), "1 0 1 0");
    EXPECT_TRUE(s->haveNotice(p_, 1));
    EXPECT_EQ(weights(), "1 1 1 0");
    EXPECT_TRUE(s->haveNotice(p_, 1));
    EXPECT_EQ(weights(), "1 1 1 0") << "a crumb counts once";
    EXPECT_TRUE(s->haveNotice(p_, 4)) << "beyond the map: taken and ignored";
    EXPECT_FALSE(s->haveNotice(q_, 3));
    EXPECT_EQ(weights(), "1 1 1 0");
    EXPECT_TRUE(s->fileStatus(p_, map("0001").get()));
    EXPECT_EQ(weights(), "0 0 0 1") << "crumbs no longer reported lose their weight";
}

// A map of another size than the file's crumbs is ignored: ranges picked
// from it, and the take-over, read past the crumbs.
TEST_F(FileSourceTest, MapOfAnotherSizeIsIgnored) {
    FileSource* s = connected();
    status(s, "0100");
    put<FSS_Transfering>(s, 0);
    std::string before = weights();
    for (const char* bits : {"01", "010000", ""}) {
        SCOPED_TRACE(bits);
        EXPECT_TRUE(s->fileStatus(p_, map(bits).get()));
        EXPECT_EQ(s->partMap()->count(), kCrumbs);
        EXPECT_TRUE(s->partMap()->get(1));
        EXPECT_EQ(weights(), before);
    }
    EXPECT_EQ(stateOf(s), "FSS_Transfering");
    EXPECT_FALSE(s->fileStatus(p_, nullptr));
}

TEST_F(FileSourceTest, PartnerCrumbsWeighTen) {
    FileSource* s = connected();
    status(s, "1100");
    put<FSS_Partner>(s);
    EXPECT_EQ(weights(), "10 10 0 0");
    s->haveNotice(p_, 3);
    EXPECT_EQ(weights(), "10 10 0 10");
    status(s, "0011");
    EXPECT_EQ(weights(), "0 0 10 10");
    s->stopPartner();
    EXPECT_EQ(weights(), "0 0 1 1");
    EXPECT_EQ(s->partnerSpeed(), p_->average);
}

TEST_F(FileSourceTest, FileNameOfTheSameUser) {
    FileSource* s = connected();
    s->setFileName("theirs.bin", q_);
    EXPECT_STREQ(s->fileName(), "");
    s->setFileName("theirs.bin", p_);
    EXPECT_STREQ(s->fileName(), "theirs.bin");
    s->setFileName("x", nullptr);
    EXPECT_STREQ(s->fileName(), "theirs.bin");
}

TEST_F(FileSourceTest, QueueRankOfTheUser) {
    FileSource* s = connected();
    put<FSS_WaitForChunksBQ>(s);
    s->placeInQueue(q_, 4);
    EXPECT_EQ(s->queuePlace(), 0u) << "another connection while it has its own";
    s->placeInQueue(p_, 4);
    EXPECT_EQ(s->queuePlace(), 4u);
    FileSource* lone = unconnected();
    put<FSS_Gone>(lone);
    lone->placeInQueue(q_, 9);
    EXPECT_EQ(lone->queuePlace(), 9u) << "no connection: the same user counts";
    lone->placeInQueue(p_, 2);
    EXPECT_EQ(lone->queuePlace(), 9u);
}

TEST_F(FileSourceTest, StatusCodesAndTheirTexts) {
    FileSource* s = connected();
    status(s, "1000");
    struct Case {
        const char* state;
        int code;
        int text;
    };
    const Case cases[] = {
        {"Unasked", 0, STRINGS_FSS_UNASKED},
        {"WaitForConnection", 1, STRINGS_FSS_WAITCONNECTION},
        {"WaitForChunksBQ", 2, STRINGS_FSS_WAIT_CHUNKS_BQ},
        {"OnQueue", 3, STRINGS_FSS_ONQUEUE},
        {"WaitForChunks", 4, STRINGS_FSS_WAIT_CHUNKS},
        {"Transfering", 5, STRINGS_FSS_TRANSFERRING},
        {"TransferingAskingPartner", 5, STRINGS_FSS_TRANSFERRING},
        {"BadSource", 6, STRINGS_FSS_BADSOURCE},
        {"Gone", 7, STRINGS_FSS_GONE},
        {"NoNeededParts", 8, STRINGS_FSS_NONEEDED},
        {"AskingPartner", 9, STRINGS_FSS_ASKING_PARTNER},
        {"Partner", 10, STRINGS_FSS_PARTNER},
        {"TestPartner", 10, STRINGS_FSS_PARTNER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        std::string name = c.state;
        if (name == "Unasked") put<FSS_Unasked>(s);
        if (name == "WaitForConnection") put<FSS_WaitForConnection>(s);
        if (name == "WaitForChunksBQ") put<FSS_WaitForChunksBQ>(s);
        if (name == "OnQueue") put<FSS_OnQueue>(s);
        if (name == "WaitForChunks") put<FSS_WaitForChunks>(s);
        if (name == "Transfering") put<FSS_Transfering>(s, 0);
        if (name == "TransferingAskingPartner") put<FSS_TransferingAskingPartner>(s, 0);
        if (name == "BadSource") put<FSS_BadSource>(s);
        if (name == "Gone") put<FSS_Gone>(s);
        if (name == "NoNeededParts") put<FSS_NoNeededParts>(s);
        if (name == "AskingPartner") put<FSS_AskingPartner>(s);
        if (name == "Partner") put<FSS_Partner>(s);
        if (name == "TestPartner") put<FSS_TestPartner>(s);
        EXPECT_EQ(stateOf(s), "FSS_" + name);
        EXPECT_EQ(s->statusCode(), c.code);
        EXPECT_EQ(c.code + 78, c.text);
    }
    EXPECT_STREQ(uiString(kFssOnQueue + 78), "Queue Place:");
}

TEST_F(FileSourceTest, UsesOfTheConnection) {
    FileSource* s = connected();
    status(s, "1000");
    put<FSS_WaitForChunksBQ>(s);
    EXPECT_EQ(p_->uses, 1);
    world_->log.take();
    put<FSS_Transfering>(s, 0);
    EXPECT_EQ(p_->uses, 1) << "the next state takes its use before the last one lets go";
    Strings log = world_->log.take();
    EXPECT_EQ(log[0], "p addRef FileSourceState");
    EXPECT_EQ(log[1], "p release FileSourceState");

    put<FSS_OnQueue>(s);
    EXPECT_EQ(p_->uses, 1);
    s->placeInQueue(p_, 12);
    EXPECT_EQ(p_->uses, 0) << "once the rank is known the connection may close";
    s->placeInQueue(p_, 11);
    EXPECT_EQ(p_->uses, 0);

    // The slot handed on: a use rides on MSG_OPEN_SLOT until the pool's
    // handler has given the slot back.
    put<FSS_Transfering>(s, 0);
    world_->log.take();
    world_->route = false;
    s->cancel();
    EXPECT_EQ(p_->uses, 1);
    pump();
    EXPECT_EQ(world_->takeCodes(), (std::vector<int>{MSG_OPEN_SLOT}));
    world_->route = true;
    EXPECT_EQ(stateOf(s), "FSS_BadSource");
    // The kept message was only recorded: give the slot back by hand.
    world_->pool->openSlot(p_->tcpConnection());
    EXPECT_EQ(p_->uses, 0);
    EXPECT_EQ(sends(), (Strings{"p slotRelease"}));
}

TEST_F(FileSourceTest, DeletedSourceReturnsItsRangesAndLeavesThePartnerTable) {
    FileSource* s = connected();
    status(s, "1100");
    put<FSS_Partner>(s);
    PartnerManager* partners = PartnerManager::instance();
    EXPECT_EQ(partners->slot(0), s);
    EXPECT_TRUE(p_->keep);
    int transferring = world_->pool->transferring();
    EXPECT_EQ(transferring, 1);
    remove(s);
    EXPECT_EQ(partners->slot(0), nullptr);
    EXPECT_FALSE(p_->keep);
    EXPECT_EQ(world_->pool->transferring(), 0);
    EXPECT_EQ(weights(), "0 0 0 0");
    // Every byte is free again: a source with every crumb takes them all.
    FileSource* t = connected();
    status(t, "1111");
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t total = 0;
    while (download_->progress()->pickRange(t->partMap(), &start, &end, 0)) total += end - start;
    EXPECT_EQ(total, kSize);
    download_->returnRange(0, kSize);
}

// A state that logs its life. On a tick it sets its successor, then still
// counts the tick in itself and adds a step for after the change; entering,
// it may set a successor of its own.
class LoggingState final : public FileSourceState {
public:
    LoggingState(FileSource* source, Strings* log, std::string name, std::string onEnter = "")
        : FileSourceState(source, kFssUnasked), log_(log), name_(std::move(name)), onEnter_(std::move(onEnter)) {}
    ~LoggingState() override { log_->push_back(name_ + " deleted"); }

    void enter() override {
        log_->push_back(name_ + " entered");
        if (!onEnter_.empty()) source_->setState(std::make_unique<LoggingState>(source_, log_, onEnter_));
    }
    bool tick(int elapsedMs) override {
        (void)elapsedMs;
        FileSource* source = source_;
        Strings* log = log_;
        source->setState(std::make_unique<LoggingState>(source, log, "second", "third"));
        source->afterwards([source, log] {
            log->push_back("afterwards in " + static_cast<LoggingState*>(source->state())->name_);
        });
        ticks_++;
        log_->push_back(name_ + " ticked " + std::to_string(ticks_));
        return true;
    }

private:
    Strings* log_;
    std::string name_;
    std::string onEnter_;
    int ticks_ = 0;
};

TEST_F(FileSourceTest, NextStateComesInOnceTheEventIsOver) {
    Strings log;
    FileSource* s = connected();
    put<LoggingState>(s, &log, std::string("first"));
    EXPECT_EQ(log, Strings{"first entered"}) << "set outside an event: installed at once";
    log.clear();
    EXPECT_TRUE(s->tick(1));
    EXPECT_EQ(log, (Strings{"first ticked 1", "first deleted", "second entered", "second deleted", "third entered",
                            "afterwards in third"}));
    remove(s);
}

TEST_F(FileSourceTest, FactoryMakesFileSourcesForTheDownload) {
    PeerSourceFactory* fakes = peerSourceFactory();
    installPeerSources();
    EXPECT_NE(peerSourceFactory(), fakes);
    download_->addSource(&p_->record, p_);
    download_->lock(0);
    ASSERT_EQ(download_->sources()->count(), 1);
    auto* made = dynamic_cast<FileSource*>(static_cast<FileSourceInterface*>(download_->sources()->at(0)));
    download_->unlock();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->connection(), p_);
    download_->addSource(&p_->record, nullptr);
    EXPECT_EQ(download_->sources()->count(), 1) << "the same user only gets its retries reset";
    uninstallPeerSources();
    EXPECT_EQ(peerSourceFactory(), nullptr);
    setPeerSourceFactory(fakes);
}

}  // namespace
}  // namespace sourcetest

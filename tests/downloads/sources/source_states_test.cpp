// The source state machine as one table: (state, event) -> next state and
// the messages sent, with the uses of every connection balanced and every
// weight back to 0 once the source is gone (checked after each row).
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/options/core_options.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download_states.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/source_fixture.h"
#include "downloads/sources/source_list.h"
#include "downloads/sources/transfer_states.h"

namespace sourcetest {
namespace {

using Strings = std::vector<std::string>;
using Act = std::function<void(FileSource*)>;

// The requests a source with only crumb 0 makes: its two halves.
const char* kCrumb0Request = "p partRequest 0-243200 243200-486400 0-0";

class SourceStatesTest : public SourceTest {
protected:
    struct Row {
        std::string from;  // the state installed before the event ("" = as made)
        std::string event;
        Act act;
        std::string to;
        Strings sends;
        // Before the state: the connected source gets map "1000" unless
        // this is set; unconnected sources get nothing.
        Act prepare = nullptr;
        bool connectedSource = true;
        Act check = nullptr;
    };

    void install(const std::string& name, FileSource* s) {
        static const std::map<std::string, std::function<void(SourceStatesTest*, FileSource*)>> makers = {
            {"Unasked", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_Unasked>(s); }},
            {"WaitForConnection", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_WaitForConnection>(s); }},
            {"WaitForChunksBQ", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_WaitForChunksBQ>(s); }},
            {"OnQueue", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_OnQueue>(s); }},
            {"WaitForChunks", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_WaitForChunks>(s); }},
            {"NoNeededParts", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_NoNeededParts>(s); }},
            {"Gone", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_Gone>(s); }},
            {"BadSource", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_BadSource>(s); }},
            {"Transfering", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_Transfering>(s, int64_t{0}); }},
            {"TransferingAskingPartner",
             [](SourceStatesTest* t, FileSource* s) { t->put<FSS_TransferingAskingPartner>(s, int64_t{0}); }},
            {"AskingPartner", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_AskingPartner>(s); }},
            {"Partner", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_Partner>(s); }},
            {"TestPartner", [](SourceStatesTest* t, FileSource* s) { t->put<FSS_TestPartner>(s); }},
        };
        ASSERT_TRUE(makers.count(name)) << name;
        makers.at(name)(this, s);
    }

    void run(const std::vector<Row>& rows) {
        bool first = true;
        for (const Row& row : rows) {
            SCOPED_TRACE(row.from + " / " + row.event + " -> " + row.to);
            if (!first) {
                TearDown();
                SetUp();
            }
            first = false;
            FileSource* s = row.connectedSource ? connected() : unconnected();
            if (row.prepare) {
                row.prepare(s);
            } else if (row.connectedSource) {
                status(s, "1000");
            }
            if (!row.from.empty()) install(row.from, s);
            world_->log.take();
            row.act(s);
            pump();
            EXPECT_EQ(stateOf(s), "FSS_" + row.to);
            EXPECT_EQ(sends(), row.sends);
            if (row.check) row.check(s);
        }
    }

    // The connection q joins the pool (it was unknown when the source was
    // made, so the source did not adopt it).
    void listQ() { world_->peers.add(q_); }
    // Takes every free range of the crumbs set in bits, as sources that
    // fetch them would.
    void takeCrumbs(const std::string& bits) {
        std::unique_ptr<BoolArray> m = map(bits);
        uint64_t start = 0;
        uint64_t end = 0;
        while (download_->progress()->pickRange(m.get(), &start, &end, 0)) {
        }
    }
    void connectResult(int result) { world_->peers.connectResult = result; }
};

// Every state of the connecting and queueing part.
const Strings kWaitingStates = {"Unasked", "WaitForConnection", "WaitForChunksBQ", "OnQueue",
                                "WaitForChunks", "NoNeededParts", "Gone", "BadSource"};

TEST_F(SourceStatesTest, ConnectingAndQueueing) {
    std::vector<Row> rows = {
        {"Unasked", "tryAsk, user asked recently", [this](FileSource* s) {
             SourceList::instance()->askOnce(q_, download_->fileHash());
             SourceList::instance()->setRank(&q_->record, 7);
             world_->log.take();
             EXPECT_TRUE(s->tryAsk());
         }, "OnQueue", {}, nullptr, false, [](FileSource* s) { EXPECT_EQ(s->queuePlace(), 7u); }},
        // Connected already: the connected path runs with the map as it is.
        {"Unasked", "tryAsk, connect 0, fresh map with needed crumbs", [this](FileSource* s) {
             connectResult(0);
             world_->peers.connectTo = p_;
             EXPECT_TRUE(s->tryAsk());
         }, "OnQueue", {"connect 0", "p uploadRequest"}},
        {"Unasked", "tryAsk, connect 0, fresh map without needed crumbs", [this](FileSource* s) {
             connectResult(0);
             world_->peers.connectTo = p_;
             s->tryAsk();
         }, "NoNeededParts", {"connect 0"}, [this](FileSource* s) { status(s, "0000"); }},
        // A connection adopted now: the map is no longer taken as fresh.
        {"Unasked", "tryAsk, connect 0, stale map", [this](FileSource* s) {
             connectResult(0);
             listQ();
             s->tryAsk();
         }, "WaitForChunksBQ", {"connect 0", "q fileNameRequest", "q fileStatusRequest"}, nullptr, false},
        {"Unasked", "tryAsk, connect 0, small file: no status", [this](FileSource* s) {
             connectResult(0);
             listQ();
             q_->statusAnswer = false;
             s->tryAsk();
         }, "OnQueue", {"connect 0", "q fileNameRequest", "q fileStatusRequest", "q uploadRequest"}, nullptr, false,
         [this](FileSource*) { EXPECT_EQ(weights(), "1 1 1 1") << "assumed to have every crumb"; }},
        {"Unasked", "tryAsk, connect 1", [this](FileSource* s) {
             connectResult(1);
             EXPECT_TRUE(s->tryAsk());
             EXPECT_FALSE(DLPool::instance()->gateOpen()) << "the gate is held";
         }, "WaitForConnection", {"connect 1"}, nullptr, false},
        {"Unasked", "tryAsk, connect 2", [this](FileSource* s) { connectResult(2), s->tryAsk(); }, "Gone",
         {"connect 2"}, nullptr, false},
        {"Unasked", "tryAsk, connect 3", [this](FileSource* s) { connectResult(3), s->tryAsk(); }, "BadSource",
         {"connect 3"}, nullptr, false},
        {"Unasked", "tryAsk, connect 4", [this](FileSource* s) {
             connectResult(4);
             EXPECT_TRUE(s->tryAsk());
         },
         "Unasked", {"connect 4"}, nullptr, false},
        {"Unasked", "tryAsk at maxCon + 2 connections", [this](FileSource* s) {
             world_->peers.connections = kDefaultMaxConnections + 2;
             EXPECT_TRUE(s->tryAsk()) << "still ends the download's pass";
         }, "Unasked", {}, nullptr, false},
        {"Unasked", "tryAsk at maxCon + 1 connections", [this](FileSource* s) {
             world_->peers.connections = kDefaultMaxConnections + 1;
             s->tryAsk();
         }, "WaitForConnection", {"connect 1"}, nullptr, false},
        {"Unasked", "placeInQueue by the user", [this](FileSource* s) { s->placeInQueue(p_, 5); }, "OnQueue", {},
         nullptr, true, [](FileSource* s) { EXPECT_EQ(s->queuePlace(), 5u); }},
        {"WaitForConnection", "newPeer", [this](FileSource* s) {
             listQ();
             s->newPeer(q_);
         }, "WaitForChunksBQ", {"q fileNameRequest", "q fileStatusRequest"}, nullptr, false},
        {"WaitForConnection", "newPeer of someone else", [this](FileSource* s) { s->newPeer(p_); },
         "WaitForConnection", {}, nullptr, false},
        {"WaitForConnection", "peerClosed", [this](FileSource* s) { s->peerClosed(p_); }, "Gone", {}},
        {"WaitForChunksBQ", "peerClosed", [this](FileSource* s) { s->peerClosed(p_); }, "Gone", {},
         nullptr, true, [](FileSource* s) { EXPECT_EQ(s->connection(), nullptr); }},
        {"WaitForChunks", "peerClosed", [this](FileSource* s) { s->peerClosed(p_); }, "Gone", {}},
        {"WaitForChunksBQ", "map with needed crumbs", [this](FileSource* s) { status(s, "0010"); }, "OnQueue",
         {"p uploadRequest"}, [this](FileSource* s) { status(s, "0000"); }},
        {"WaitForChunksBQ", "map without needed crumbs", [this](FileSource* s) { status(s, "0000"); },
         "NoNeededParts", {}},
        {"WaitForChunksBQ", "noFile", [this](FileSource* s) { EXPECT_TRUE(s->noFile(p_)); }, "BadSource", {}},
        {"WaitForChunksBQ", "noFile of another connection", [this](FileSource* s) { EXPECT_FALSE(s->noFile(q_)); },
         "WaitForChunksBQ", {}},
        {"OnQueue", "openSlot", [this](FileSource* s) { EXPECT_TRUE(s->openSlot(p_)); }, "Transfering",
         {kCrumb0Request}},
        {"OnQueue", "pause", [this](FileSource* s) {
             SourceList::instance()->askOnce(p_, download_->fileHash());
             s->pause();
             EXPECT_EQ(SourceList::instance()->size(), 0u);
         }, "Unasked", {"p uploadRequest"}},
        {"WaitForChunks", "map with needed crumbs", [this](FileSource* s) { status(s, "1000"); }, "Transfering",
         {"p uploadRequest", kCrumb0Request}, [this](FileSource* s) { status(s, "0000"); }},
        {"WaitForChunks", "map without needed crumbs", [this](FileSource* s) { status(s, "0000"); },
         "NoNeededParts", {}},
        {"WaitForChunks", "uploadEnded", [this](FileSource* s) { EXPECT_TRUE(s->uploadEnded(p_)); }, "OnQueue", {}},
        {"WaitForChunks", "noFile: the slot is handed on", [this](FileSource* s) { EXPECT_TRUE(s->noFile(p_)); },
         "BadSource", {"p slotRelease"}},
        {"WaitForChunks", "cancel: the slot is handed on", [](FileSource* s) { s->cancel(); }, "BadSource",
         {"p slotRelease"}},
        {"WaitForChunks", "shutdown: the slot is handed on", [](FileSource* s) { s->shutdown(); }, "BadSource",
         {"p slotRelease"}},
        {"NoNeededParts", "the map gets stale", [](FileSource* s) { s->tick(FileSource::kMapFreshMs + 1); },
         "Unasked", {}},
        {"NoNeededParts", "a tick with a fresh map", [](FileSource* s) { s->tick(FileSource::kMapFreshMs); },
         "NoNeededParts", {}},
        {"NoNeededParts", "map with needed crumbs", [this](FileSource* s) {
             SourceList::instance()->askOnce(p_, download_->fileHash());
             world_->log.take();
             status(s, "0001");
         }, "Unasked", {}, [this](FileSource* s) { status(s, "0000"); },
         true, [](FileSource*) { EXPECT_EQ(SourceList::instance()->size(), 0u) << "the next contact asks again"; }},
        // Every range of crumbs 0 and 1 is taken before the state is
        // entered; one of them comes back.
        {"NoNeededParts", "a range of its crumbs comes free", [this](FileSource* s) {
             SourceList::instance()->askOnce(p_, download_->fileHash());
             world_->log.take();
             download_->returnRange(0, 1000);
             EXPECT_EQ(stateOf(s), "FSS_NoNeededParts") << "looked at on the next tick";
             s->tick(1);
         }, "Unasked", {}, [this](FileSource* s) { status(s, "1000"), takeCrumbs("1100"); },
         true, [](FileSource*) { EXPECT_EQ(SourceList::instance()->size(), 0u) << "the next contact asks again"; }},
        {"NoNeededParts", "a range of other crumbs comes free", [this](FileSource* s) {
             download_->returnRange(486400, 487400);
             s->tick(1);
         }, "NoNeededParts", {}, [this](FileSource* s) { status(s, "1000"), takeCrumbs("1100"); }},
        {"NoNeededParts", "partnerAccepted", [this](FileSource* s) { EXPECT_TRUE(s->partnerAccepted(p_)); },
         "TestPartner", {"p keep", "p keep"}, [this](FileSource* s) { status(s, "0000"); }},
        {"NoNeededParts", "openSlot", [this](FileSource* s) { EXPECT_FALSE(s->openSlot(p_)); }, "NoNeededParts", {}},
        {"Gone", "resetRetries", [](FileSource* s) {
             s->setRetries(3);
             s->resetRetries();
             EXPECT_EQ(s->retries(), 0);
         }, "Unasked", {}},
        {"Gone", "newPeer of the user", [this](FileSource* s) {
             s->setRetries(3);
             listQ();
             s->newPeer(q_);
             EXPECT_EQ(s->retries(), 0);
         }, "Unasked", {"q fileNameRequest"}, nullptr, false},
        {"BadSource", "openSlot", [this](FileSource* s) { EXPECT_FALSE(s->openSlot(p_)); }, "BadSource", {}},
        {"BadSource", "tick", [](FileSource* s) { EXPECT_FALSE(s->tick(1)); }, "BadSource", {}},
        {"Unasked", "openSlot (default)", [this](FileSource* s) { EXPECT_TRUE(s->openSlot(p_)); }, "Transfering",
         {kCrumb0Request}},
        {"WaitForChunksBQ", "openSlot (default)", [this](FileSource* s) { EXPECT_TRUE(s->openSlot(p_)); },
         "Transfering", {kCrumb0Request}},
        {"Unasked", "openSlot on another connection", [this](FileSource* s) { EXPECT_FALSE(s->openSlot(q_)); },
         "Unasked", {}},
    };
    for (const std::string& from : kWaitingStates) {
        rows.push_back({from, "connectFailed for the user's address", [this](FileSource* s) {
                            EXPECT_TRUE(s->connectFailed(p_->record.ip(), p_->record.port()));
                        }, "Gone", {}});
        rows.push_back({from, "connectFailed for another port", [this](FileSource* s) {
                            EXPECT_FALSE(s->connectFailed(p_->record.ip(), 4663));
                        }, from, {}});
    }
    for (const std::string& from : Strings{"Unasked", "WaitForConnection", "WaitForChunksBQ", "OnQueue", "NoNeededParts",
                                    "Gone", "BadSource"}) {
        rows.push_back({from, "cancel", [](FileSource* s) { s->cancel(); }, "BadSource", {}});
        // A finished download's final check may send it back to fetching:
        // its sources stay, holding nothing, and ask the user afresh.
        std::string after = from == "Gone" || from == "BadSource" ? from : "Unasked";
        rows.push_back({from, "downloadComplete", [this](FileSource* s) {
                            SourceList::instance()->askOnce(p_, download_->fileHash());
                            world_->log.take();
                            s->downloadComplete();
                        }, after, {}, nullptr, true,
                        [](FileSource*) { EXPECT_EQ(SourceList::instance()->size(), 0u); }});
    }
    for (const std::string& from : Strings{"Unasked", "WaitForConnection", "WaitForChunksBQ", "OnQueue", "WaitForChunks",
                                    "NoNeededParts", "Gone", "BadSource"}) {
        rows.push_back({from, "partnerRequested by the user", [this](FileSource* s) {
                            EXPECT_TRUE(s->partnerRequested(p_));
                        }, "TestPartner", {"p keep", "p keep"}, [this](FileSource* s) { status(s, "0000"); }});
    }
    run(rows);
}

TEST_F(SourceStatesTest, TransferAndPartners) {
    auto cooldown = [](int32_t ms) { return [ms](FileSource* s) { EXPECT_EQ(s->partnerCooldown(), ms); }; };
    std::vector<Row> rows = {
        {"Unasked", "tryPartner, connect 0, pr 1", [this](FileSource* s) {
             connectResult(0);
             s->tryPartner();
         }, "AskingPartner", {"connect 0", "q keep", "q partnerRequest"}, nullptr, false,
         [this](FileSource* s) { EXPECT_EQ(s->connection(), q_); }},
        {"Unasked", "tryPartner, connect 1", [this](FileSource* s) {
             connectResult(1);
             s->tryPartner();
         }, "AskingPartner", {"connect 1"}, nullptr, false},
        {"Unasked", "tryPartner, connect 2", [this](FileSource* s) { connectResult(2), s->tryPartner(); }, "Gone",
         {"connect 2"}, nullptr, false},
        {"Unasked", "tryPartner, connect 3", [this](FileSource* s) { connectResult(3), s->tryPartner(); }, "Gone",
         {"connect 3"}, nullptr, false},
        {"Unasked", "tryPartner, connect 4", [this](FileSource* s) { connectResult(4), s->tryPartner(); }, "Unasked",
         {"connect 4"}, nullptr, false},
        {"OnQueue", "tryPartner, connected, pr 0", [this](FileSource* s) {
             p_->pr = 0;
             s->tryPartner();
         }, "Unasked", {}, nullptr, true, cooldown(1)},
        {"Transfering", "tryPartner, pr 1", [](FileSource* s) { s->tryPartner(); }, "TransferingAskingPartner",
         {"p keep", "p partnerRequest"}},
        {"Transfering", "tryPartner, pr 0", [this](FileSource* s) {
             p_->pr = 0;
             s->tryPartner();
         }, "Transfering", {}, nullptr, true, cooldown(1)},
        {"AskingPartner", "openSlot", [this](FileSource* s) { EXPECT_TRUE(s->openSlot(p_)); },
         "TransferingAskingPartner", {"p keep", "p partnerRequest", kCrumb0Request}},
        {"AskingPartner", "partnerAccepted", [this](FileSource* s) { EXPECT_TRUE(s->partnerAccepted(p_)); },
         "TestPartner", {"p keep", "p keep", kCrumb0Request},
         nullptr, true, [this](FileSource*) { EXPECT_EQ(weights(), "10 0 0 0"); }},
        {"AskingPartner", "partnerRefused: the connected path", [this](FileSource* s) {
             EXPECT_TRUE(s->partnerRefused(p_));
         }, "OnQueue", {"p uploadRequest", "p unkeep"}, nullptr, true, cooldown(1)},
        {"AskingPartner", "partnerAccepted of another connection", [this](FileSource* s) {
             EXPECT_FALSE(s->partnerAccepted(q_));
         }, "AskingPartner", {}},
        {"AskingPartner", "newPeer without pr 1", [this](FileSource* s) {
             q_->pr = 0;
             listQ();
             s->newPeer(q_);
         }, "WaitForChunksBQ", {"q fileNameRequest", "q unkeep", "q fileStatusRequest"}, nullptr, false},
        {"AskingPartner", "newPeer with pr 1", [this](FileSource* s) {
             listQ();
             s->newPeer(q_);
         }, "AskingPartner", {"q fileNameRequest", "q fileNameRequest", "q partnerRequest"}, nullptr, false},
        // The table dropped it (and cleared its keep flag) before.
        {"AskingPartner", "stopPartner", [](FileSource* s) { s->stopPartner(); }, "Unasked", {}, nullptr,
         true, cooldown(FSS_Partner::kDroppedCooldown)},
        {"AskingPartner", "pause", [](FileSource* s) { s->pause(); }, "Unasked", {"p unkeep"}, nullptr, true,
         cooldown(0)},
        {"AskingPartner", "peerClosed", [this](FileSource* s) { s->peerClosed(p_); }, "Gone", {"p unkeep"}, nullptr,
         true, cooldown(0)},
        {"TransferingAskingPartner", "partnerAccepted", [this](FileSource* s) { s->partnerAccepted(p_); },
         "TestPartner", {"p keep", "p keep"}},
        {"TransferingAskingPartner", "partnerRequested", [this](FileSource* s) {
             EXPECT_TRUE(s->partnerRequested(p_));
         }, "TestPartner", {"p keep", "p keep"}},
        {"TransferingAskingPartner", "partnerRefused", [this](FileSource* s) { s->partnerRefused(p_); },
         "Transfering", {"p unkeep"}, nullptr, true, cooldown(1)},
        {"TransferingAskingPartner", "stopPartner", [](FileSource* s) { s->stopPartner(); }, "Transfering", {},
         nullptr, true, cooldown(0)},
        {"TransferingAskingPartner", "uploadEnded", [this](FileSource* s) { EXPECT_TRUE(s->uploadEnded(p_)); },
         "AskingPartner", {"p keep", "p partnerRequest"}},
        {"Partner", "stopPartner", [](FileSource* s) { s->stopPartner(); }, "Transfering", {}, nullptr, true,
         cooldown(FSS_Partner::kDroppedCooldown)},
        {"TestPartner", "stopPartner", [](FileSource* s) { s->stopPartner(); }, "Transfering", {}, nullptr, true,
         cooldown(FSS_Partner::kDroppedCooldown)},
        {"Partner", "partnerRequested on its own connection", [this](FileSource* s) {
             EXPECT_TRUE(s->partnerRequested(p_));
         }, "Partner", {}},
        {"Partner", "noFile is ignored", [this](FileSource* s) { EXPECT_FALSE(s->noFile(p_)); }, "Partner", {}},
    };
    // A transfer asking to partner that runs out of needed crumbs hands its
    // open request on: the answer, or its absence, still decides whether the
    // source keeps its partner slot and its kept connection.
    auto partner = [](FileSource* s, bool in) {
        ASSERT_NE(PartnerManager::instance(), nullptr);
        EXPECT_EQ(PartnerManager::instance()->isPartner(s->connection()), in);
    };
    auto handedOn = [this, partner](FileSource* s) {
        status(s, "0000");
        install("TransferingAskingPartner", s);
        pump();  // the slot goes back
        ASSERT_EQ(stateOf(s), "FSS_NoNeededParts");
        partner(s, true);
    };
    auto leftTable = [partner](FileSource* s) {
        partner(s, false);
        EXPECT_EQ(s->partnerCooldown(), 1);
    };
    const struct {
        const char* event;
        Act act;
        const char* to;
        Strings sends;
        Act check;
    } handed[] = {
        {"refused", [this](FileSource* s) { EXPECT_TRUE(s->partnerRefused(p_)); }, "NoNeededParts", {"p unkeep"},
         leftTable},
        {"no answer", [](FileSource* s) { s->tick(FSS_NoNeededParts::kAnswerMs + 1); }, "NoNeededParts",
         {"p unkeep"}, leftTable},
        {"an answer in time", [](FileSource* s) { s->tick(FSS_NoNeededParts::kAnswerMs); }, "NoNeededParts", {},
         [partner](FileSource* s) { partner(s, true); }},
        {"accepted", [this](FileSource* s) { EXPECT_TRUE(s->partnerAccepted(p_)); }, "TestPartner",
         {"p keep", "p keep"}, [partner](FileSource* s) { partner(s, true); }},
    };
    for (const auto& h : handed) {
        rows.push_back({"", std::string("nothing needed while asking to partner, then ") + h.event, h.act, h.to,
                        h.sends, handedOn, true, h.check});
    }
    for (const std::string& from : Strings{"Transfering", "Partner", "TestPartner"}) {
        rows.push_back({from, "uploadEnded", [this](FileSource* s) { EXPECT_TRUE(s->uploadEnded(p_)); }, "OnQueue",
                        from == std::string("Transfering") ? Strings{} : Strings{"p unkeep"}});
    }
    for (const std::string& from : Strings{"Transfering", "TransferingAskingPartner", "Partner", "TestPartner"}) {
        bool partner = from != "Transfering";
        Strings unkeep = partner ? Strings{"p unkeep"} : Strings{};
        Strings released = {"p slotRelease"};
        if (partner) released.insert(released.begin(), "p unkeep");
        // The download pauses: its sources first, then the download, which
        // then refuses the slot.
        rows.push_back({from, "pause: the slot is handed on", [this](FileSource*) { download_->pause(); }, "Unasked",
                        released, nullptr, true, partner ? cooldown(0) : Act(nullptr)});
        rows.push_back({from, "peerClosed", [this](FileSource* s) { s->peerClosed(p_); }, "Gone", unkeep, nullptr,
                        true, partner ? cooldown(0) : Act(nullptr)});
        rows.push_back({from, "cancel: the slot is handed on", [](FileSource* s) { s->cancel(); }, "BadSource",
                        released});
        // As the download completes: its sources first, then its state,
        // which refuses the slot handed on.
        rows.push_back({from, "downloadComplete: the slot is handed on, the source stays", [this](FileSource* s) {
                            s->downloadComplete();
                            download_->lock(0);
                            download_->setState(new DLS_Done(download_, kDlsCompleting));
                            download_->unlock();
                        }, "Unasked", released});
        rows.push_back({from, "connectFailed is ignored", [this](FileSource* s) {
                            EXPECT_FALSE(s->connectFailed(p_->record.ip(), p_->record.port()));
                        }, from, {}});
    }
    for (const std::string& from : Strings{"Transfering", "TransferingAskingPartner"}) {
        Strings released = {"p slotRelease"};
        if (from != "Transfering") released.insert(released.begin(), "p unkeep");
        rows.push_back({from, "noFile: the slot is handed on", [this](FileSource* s) { EXPECT_TRUE(s->noFile(p_)); },
                        "BadSource", released});
    }
    run(rows);
}

}  // namespace
}  // namespace sourcetest

// The source states' timers: each one fires at the first tick that takes
// its count above the limit, and not a millisecond before.
#include <functional>
#include <string>
#include <vector>

#include "downloads/pool/partner_manager.h"
#include "downloads/sources/connecting_states.h"
#include "downloads/sources/partner_states.h"
#include "downloads/sources/source_fixture.h"
#include "downloads/sources/transfer_states.h"

namespace sourcetest {
namespace {

class SourceTimersTest : public SourceTest {
protected:
    // Ticks in steps of at most a day until ms have passed.
    static void pass(FileSource* s, int64_t ms) {
        while (ms > 0) {
            int step = static_cast<int>(std::min<int64_t>(ms, 86400000));
            s->tick(step);
            ms -= step;
        }
    }
};

TEST_F(SourceTimersTest, GoneBacksOffAndTheSixthFailureIsBad) {
    const int64_t waits[] = {600000, 1440000, 3456000, 8294400, 19906560, 47775744};
    int64_t total = 0;
    for (int32_t retries = 0; retries <= 5; retries++) {
        SCOPED_TRACE(retries);
        EXPECT_EQ(FSS_Gone::backOffMs(retries), waits[retries]);
        total += waits[retries];
    }
    EXPECT_EQ(total, 81472704) << "six failures in a row take about 22.6 hours";

    FileSource* s = unconnected();
    for (int32_t retries = 0; retries <= 5; retries++) {
        SCOPED_TRACE(retries);
        s->setRetries(retries);
        put<FSS_Gone>(s);
        pass(s, waits[retries]);
        EXPECT_EQ(stateOf(s), "FSS_Gone");
        s->tick(1);
        EXPECT_EQ(s->retries(), retries + 1);
        EXPECT_EQ(stateOf(s), retries < 5 ? "FSS_Unasked" : "FSS_BadSource");
    }
    EXPECT_FALSE(s->tick(0)) << "the download deletes it";
}

TEST_F(SourceTimersTest, WaitLimits) {
    struct Case {
        const char* what;
        std::function<void(SourceTimersTest*, FileSource*)> enter;
        bool connectedSource;
        int64_t limit;
        const char* after;
    };
    const Case cases[] = {
        {"waiting for a connection", [](SourceTimersTest* t, FileSource* s) { t->put<FSS_WaitForConnection>(s); },
         false, FSS_WaitForConnection::kWaitMs, "FSS_Gone"},
        {"queued, hello not verified",
         [](SourceTimersTest* t, FileSource* s) {
             s->user().setHelloVerified(0);
             t->put<FSS_OnQueue>(s);
         },
         true, FSS_OnQueue::kUnverifiedWaitMs, "FSS_Unasked"},
        {"queued, hello verified", [](SourceTimersTest* t, FileSource* s) { t->put<FSS_OnQueue>(s); }, true,
         FSS_OnQueue::kVerifiedWaitMs, "FSS_Unasked"},
        {"transferring without data", [](SourceTimersTest* t, FileSource* s) { t->put<FSS_Transfering>(s, 0); },
         true, FSS_Transfering::kStallMs, "FSS_Unasked"},
        {"a stall carried over", [](SourceTimersTest* t, FileSource* s) { t->put<FSS_Transfering>(s, 300000); },
         true, FSS_Transfering::kStallMs - 300000, "FSS_Unasked"},
        {"asking a transferring user to partner",
         [](SourceTimersTest* t, FileSource* s) { t->put<FSS_TransferingAskingPartner>(s, 0); }, true,
         FSS_TransferingAskingPartner::kAnswerMs, "FSS_Transfering"},
        {"asking a connected user to partner",
         [](SourceTimersTest* t, FileSource* s) { t->put<FSS_AskingPartner>(s); }, true,
         FSS_AskingPartner::kAnswerMs, "FSS_Unasked"},
        {"asking an unconnected user to partner",
         [](SourceTimersTest* t, FileSource* s) { t->put<FSS_AskingPartner>(s); }, false,
         FSS_AskingPartner::kConnectMs, "FSS_Gone"},
    };
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!first) {
            TearDown();
            SetUp();
        }
        first = false;
        FileSource* s = c.connectedSource ? connected() : unconnected();
        if (c.connectedSource) status(s, "1000");
        c.enter(this, s);
        std::string before = stateOf(s);
        pass(s, c.limit);
        EXPECT_EQ(stateOf(s), before);
        s->tick(1);
        EXPECT_EQ(stateOf(s), c.after);
    }
}

TEST_F(SourceTimersTest, DataRestartsTheStallClockAndPartnersNeverStall) {
    FileSource* s = connected();
    status(s, "1000");
    put<FSS_Transfering>(s, 0);
    s->tick(FSS_Transfering::kStallMs);
    s->dataReceived(q_);
    s->tick(1);
    EXPECT_EQ(stateOf(s), "FSS_Unasked") << "data of another connection counts for nothing";

    put<FSS_Transfering>(s, 0);
    s->tick(FSS_Transfering::kStallMs);
    s->dataReceived(p_);
    s->tick(FSS_Transfering::kStallMs);
    EXPECT_EQ(stateOf(s), "FSS_Transfering");

    put<FSS_Partner>(s);
    pass(s, 10LL * FSS_Transfering::kStallMs);
    EXPECT_EQ(stateOf(s), "FSS_Partner");
}

TEST_F(SourceTimersTest, PartnerTestEndsAfter60000Ms) {
    PartnerManager* partners = PartnerManager::instance();
    partners->setHighest(download_);
    struct Case {
        int others;  // partners of the highest download already in the table
        double speed;
        const char* after;
        int partnersAfter;
    };
    // With four in the table (the tested one included) only a source
    // faster than another stays, and the slowest goes; one tested while
    // four others held the table takes the slowest one's place.
    const Case cases[] = {{0, 0.0, "FSS_Partner", 1},     {2, 0.0, "FSS_Partner", 3},
                          {3, 0.0, "FSS_Transfering", 3}, {3, 5.0, "FSS_Partner", 3},
                          {4, 5.0, "FSS_Partner", 4},     {4, 1.0, "FSS_Transfering", 4}};
    bool first = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.others) + " others, speed " + std::to_string(c.speed));
        if (!first) {
            TearDown();
            SetUp();
            partners = PartnerManager::instance();
            partners->setHighest(download_);
        }
        first = false;
        for (int i = 0; i < c.others; i++) put<FSS_Partner>(another("o" + std::to_string(i), 0x0B000001 + i));
        for (auto& face : faces_) face->average = 2.0;
        p_->average = c.speed;
        FileSource* s = connected();
        status(s, "1000");
        put<FSS_TestPartner>(s);
        s->tick(FSS_TestPartner::kTestMs);
        EXPECT_EQ(stateOf(s), "FSS_TestPartner");
        s->tick(1);
        EXPECT_EQ(stateOf(s), c.after);
        bool stays = std::string(c.after) == "FSS_Partner";
        int partnersLeft = 0;
        bool listed = false;
        for (int i = 0; i < PartnerManager::kSlots; i++) {
            partnersLeft += partners->slot(i) != nullptr;
            listed = listed || partners->slot(i) == s;
        }
        EXPECT_EQ(partnersLeft, c.partnersAfter);
        EXPECT_EQ(listed, stays);
        if (!stays) {
            EXPECT_EQ(s->partnerCooldown(), 1);
        }
    }
}

TEST_F(SourceTimersTest, CooldownsAndMapFreshness) {
    FileSource* s = connected();
    struct Case {
        int32_t set;
        int64_t toCeiling;  // ms of ticks until it reaches 1,200,000
    };
    // It ends at the first tick that takes it above 1,200,000.
    for (const Case& c : {Case{1, 1199999}, Case{FSS_Partner::kDroppedCooldown, 600000}}) {
        SCOPED_TRACE(c.set);
        s->setPartnerCooldown(c.set);
        EXPECT_EQ(s->partnerScore(), -1.0);
        pass(s, c.toCeiling);
        EXPECT_EQ(s->partnerCooldown(), FileSource::kPartnerCooldownMs);
        EXPECT_EQ(s->partnerScore(), -1.0);
        s->tick(1);
        EXPECT_EQ(s->partnerCooldown(), 0);
    }
    status(s, "1000");
    EXPECT_EQ(s->partnerScore(), 100.0) << "never measured";
    s->setPartnerSpeed(3.5);
    EXPECT_EQ(s->partnerScore(), 3.5);
    status(s, "1111");
    EXPECT_EQ(s->partnerScore(), -1.0) << "the user has the whole file";
    EXPECT_EQ(s->partnerCooldown(), 1);

    status(s, "1000");
    s->tick(FileSource::kMapFreshMs);
    EXPECT_TRUE(s->mapFresh());
    s->tick(1);
    EXPECT_FALSE(s->mapFresh());
}

}  // namespace
}  // namespace sourcetest

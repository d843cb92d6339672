// The socket pool on scripted socket sets: pending lists, service order,
// budgets, rate averaging, totals and failures.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/net/budgets.h"
#include "core/net/clocked_connection.h"
#include "core/net/socket_pool.h"
#include "core/net/tcp_connection.h"
#include "core/net/tcp_door.h"
#include "core/net/tcp_packet.h"
#include "core/task/task_thread.h"
#include "v4ada/time/clock_source.h"
#include "v4ada/net/ready_flags.h"
#include "support/fake_net.h"
#include "support/loopback.h"
#include "support/ui_capture.h"
#include "support/bytes.h"
#include "v4ada/error/error.h"

using namespace support;

namespace {

struct ServiceLog {
    std::vector<int> served;         // ids in service order
    std::vector<int32_t> readBudgets;
    std::vector<int32_t> writeBudgets;
    std::vector<int> deleted;
    int ticks = 0;
};

class FakeConnection : public ClockedConnection {
public:
    FakeConnection(int id, ServiceLog* log) : id_(id), log_(log) {
        socket = new FakeSocket();
        setSocket(socket);
    }
    ~FakeConnection() override { log_->deleted.push_back(id_); }
    bool doTask() override {
        log_->served.push_back(id_);
        log_->readBudgets.push_back(readBudget());
        log_->writeBudgets.push_back(writeBudget());
        if (action) action(this);
        return work;
    }
    void tick(int elapsedMs) override {
        log_->ticks++;
        ClockedConnection::tick(elapsedMs);
    }
    int wantedFlags() override { return wanted; }
    void move(int sent, int received) {
        countSent(sent);
        countReceived(received);
    }

    FakeSocket* socket;
    int wanted = Connection::kServeFlags;
    bool work = false;
    std::function<void(FakeConnection*)> action;

private:
    int id_;
    ServiceLog* log_;
};

class SocketPoolTest : public ::testing::Test {
protected:
    SocketPoolTest() : protocol_(std::make_shared<FakeProtocol>()), scope_(protocol_) {
        pool_ = new STSocketPool(&bandwidth_);
        set_ = protocol_->lastSet;
    }
    ~SocketPoolTest() override { delete pool_; }

    FakeConnection* join(int id) {
        auto connection = new FakeConnection(id, &log_);
        pool_->add(connection);
        return connection;
    }

    std::shared_ptr<FakeProtocol> protocol_;
    ProtocolScope scope_;
    FakeBandwidth bandwidth_;
    STSocketPool* pool_;
    FakeSocketSet* set_;
    ServiceLog log_;
};

TEST(SocketPoolSetup, NeedsAProtocol) {
    ProtocolScope scope(nullptr);
    FakeBandwidth bandwidth;
    try {
        STSocketPool pool(&bandwidth);
        FAIL() << "no error";
    } catch (i4_err& error) {
        EXPECT_STREQ(error.message(), "SocketPool :prot null");
    }
}

TEST_F(SocketPoolTest, ConnectionAddedTwiceJoinsOnce) {
    FakeConnection* connection = join(1);
    pool_->add(connection);
    pool_->add(nullptr);
    EXPECT_EQ(pool_->count(), 1);
    pool_->tick(10);
    EXPECT_EQ(pool_->count(), 1);
    EXPECT_EQ(pool_->activeCount(), 1);
    EXPECT_TRUE(connection->socket->inSet);
    pool_->add(connection);  // active already: counted once
    pool_->tick(10);
    EXPECT_EQ(pool_->count(), 1);
    EXPECT_EQ(pool_->activeCount(), 1);
}

TEST_F(SocketPoolTest, ServiceOrderRotates) {
    for (int id = 1; id <= 3; id++) join(id);
    pool_->applyPending();
    for (int i = 0; i < 3; i++) pool_->tick(10);
    EXPECT_EQ(log_.served, (std::vector<int>{1, 2, 3, 2, 3, 1, 3, 1, 2}));
}

TEST_F(SocketPoolTest, ConnectionRemovingItselfIsServedToTheEndOfTheTick) {
    FakeConnection* first = join(1);
    join(2);
    pool_->applyPending();
    first->action = [this](FakeConnection* self) {
        pool_->remove(self);
        self->work = true;  // still a live object
    };
    EXPECT_TRUE(pool_->tick(10));
    EXPECT_EQ(log_.served, (std::vector<int>{1, 2}));
    EXPECT_EQ(log_.deleted, (std::vector<int>{1}));
    EXPECT_EQ(pool_->count(), 1);
}

TEST_F(SocketPoolTest, OnlyHeldConnectionsAreDeleted) {
    ServiceLog strangerLog;
    FakeConnection stranger(9, &strangerLog);  // never handed to the pool
    FakeConnection* held = join(1);
    pool_->remove(&stranger);
    pool_->remove(held);
    pool_->remove(held);
    pool_->tick(10);  // added, then let go, in one tick
    EXPECT_EQ(log_.deleted, (std::vector<int>{1}));
    EXPECT_TRUE(strangerLog.deleted.empty());
    EXPECT_EQ(pool_->count(), 0);
    pool_->remove(held);  // stale: ignored
    pool_->tick(10);
    EXPECT_EQ(log_.deleted.size(), 1u);
}

// A door whose listen never happened: it has no socket to serve.
class UnopenedDoor : public TCPDoor {
public:
    explicit UnopenedDoor(bool* destroyed) : TCPDoor(0), destroyed_(destroyed) {}
    ~UnopenedDoor() override { *destroyed_ = true; }
    Connection* makeConnection(i4_socket*) override { return nullptr; }

private:
    bool* destroyed_;
};

TEST_F(SocketPoolTest, ConnectionThatCannotBeAttachedIsLetGo) {
    bool destroyed = false;
    pool_->add(new UnopenedDoor(&destroyed));
    join(1);
    pool_->tick(10);  // joins; never served unattached
    pool_->tick(10);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(pool_->activeCount(), 1);
    EXPECT_EQ(pool_->count(), 1);
    EXPECT_EQ(log_.served, (std::vector<int>{1}));
}

TEST_F(SocketPoolTest, BudgetsFromLimitsAndTimeSinceTheLastService) {
    FakeConnection* connection = join(1);
    connection->action = [](FakeConnection*) { chargeReadBudget(readBudget()); };
    pool_->applyPending();
    bandwidth_.down = 5;
    bandwidth_.up = 0;
    set_->results = {0, 0, 0, 1, 1};
    pool_->tick(10);
    pool_->tick(20);
    pool_->tick(30);
    EXPECT_TRUE(log_.served.empty());
    EXPECT_EQ(log_.ticks, 3);  // clock steps while nothing is ready
    pool_->tick(40);
    pool_->tick(200);
    EXPECT_EQ(log_.readBudgets, (std::vector<int32_t>{500, 1000}));
    EXPECT_EQ(log_.writeBudgets, (std::vector<int32_t>{kNoBudgetLimit, kNoBudgetLimit}));
    EXPECT_EQ(set_->timeouts.back(), STSocketPool::kWaitMs);
}

TEST_F(SocketPoolTest, LimitsBelowOneByteAPerMillisecondStillMoveBytes) {
    FakeConnection* connection = join(1);
    connection->action = [](FakeConnection*) { chargeWriteBudget(writeBudget()); };
    pool_->applyPending();
    bandwidth_.up = 0.4;  // 400 bytes per second
    for (int i = 0; i < 5; i++) pool_->tick(1);
    EXPECT_EQ(log_.writeBudgets, (std::vector<int32_t>{0, 0, 1, 0, 1}));
}

// What a service leaves of a limited budget (a connection stopped at its
// per-service cap after a late step) is handed out again, up to the limit
// times kBudgetCarryMs; an unlimited side carries nothing.
TEST_F(SocketPoolTest, UnspentBudgetCarriesOverUpToItsBound) {
    FakeConnection* connection = join(1);
    pool_->applyPending();
    struct Case {
        const char* what;
        double down;
        std::vector<int> steps;       // ms before each service
        std::vector<int32_t> spend;   // bytes each service takes (-1: all)
        std::vector<int32_t> budgets; // read budgets the services got
    } cases[] = {
        {"all spent: nothing to carry", 10, {5, 5}, {-1, -1}, {50, 50}},
        {"the rest of a late step follows", 10, {40, 5, 5}, {100, -1, -1}, {400, 350, 50}},
        {"at most the bound", 10, {300, 5}, {0, -1}, {3000, 1050}},
        {"the bound holds below one byte too", 0.004, {100, 100, 100, 100}, {0, 0, 0, 0}, {0, 0, 1, 0}},
        {"no limit", 0, {5, 5}, {1000, -1}, {kNoBudgetLimit, kNoBudgetLimit}},
    };
    for (const Case& c : cases) {
        // A fresh pool: no carry from the case before.
        delete pool_;
        pool_ = new STSocketPool(&bandwidth_);
        set_ = protocol_->lastSet;
        connection = join(1);
        pool_->applyPending();
        bandwidth_.down = c.down;
        log_.readBudgets.clear();
        size_t service = 0;
        connection->action = [&](FakeConnection*) {
            int32_t take = c.spend[service++];
            chargeReadBudget(take < 0 ? readBudget() : take);
        };
        for (int ms : c.steps) pool_->tick(ms);
        EXPECT_EQ(log_.readBudgets, c.budgets) << c.what;
    }
}

TEST_F(SocketPoolTest, PeakSpeedJumpsUpAndFallsBackSlowly) {
    bandwidth_.maxDown = 10;
    bandwidth_.maxUp = 7;
    delete pool_;
    pool_ = new STSocketPool(&bandwidth_);  // rings start at the peaks
    set_ = protocol_->lastSet;
    join(1);

    bandwidth_.curDown = 20;
    bandwidth_.curUp = 0;  // this side stays as it is
    pool_->tick(2000);
    pool_->tick(2000);
    EXPECT_DOUBLE_EQ(bandwidth_.maxDown, 10);  // 4000 ms is not yet above the period
    pool_->tick(1);
    EXPECT_DOUBLE_EQ(bandwidth_.maxDown, 20);  // at once
    EXPECT_DOUBLE_EQ(bandwidth_.maxUp, 7);

    bandwidth_.curDown = 4;
    pool_->averageRates();  // sample (4 + 3 x 20) / 4 = 16; mean (20 + 16 + 6 x 10) / 8
    EXPECT_DOUBLE_EQ(bandwidth_.maxDown, 12);
    pool_->averageRates();  // sample (4 + 36) / 4 = 10; mean (20 + 16 + 10 + 5 x 10) / 8
    EXPECT_DOUBLE_EQ(bandwidth_.maxDown, 12);
    bandwidth_.curDown = 30;
    pool_->averageRates();
    EXPECT_DOUBLE_EQ(bandwidth_.maxDown, 30);
}

TEST_F(SocketPoolTest, RatesAndTotalsIncludeConnectionsThatLeft) {
    FakeConnection* first = join(1);
    FakeConnection* second = join(2);
    pool_->applyPending();
    first->move(3000, 1000);
    second->move(500, 0);
    pool_->tick(1001);  // both windows close in this service
    EXPECT_EQ(pool_->totalSent(), 3500u);
    EXPECT_EQ(pool_->totalReceived(), 1000u);
    EXPECT_NEAR(pool_->currentUpRate(), (3000.0 / 1001 + 500.0 / 1001) / 8, 1e-5);
    pool_->remove(first);
    pool_->tick(10);
    pool_->tick(10);
    EXPECT_EQ(pool_->totalSent(), 3500u);
    EXPECT_EQ(pool_->totalReceived(), 1000u);
}

TEST_F(SocketPoolTest, FailingWaitIsReportedOncePerError) {
    CaptureUI ui;
    join(1);
    set_->results = {-1, -1, -1, 1, -1};
    for (int i = 0; i < 5; i++) EXPECT_FALSE(pool_->tick(10));
    const std::string line = "ERROR(0) problem with socket set. Try reducing max connections";
    EXPECT_EQ(ui.printed(), (std::vector<std::string>{line, line}));
    EXPECT_EQ(pool_->activeCount(), 1);  // pending changes still applied

    pool_->setTextLookup([](const char* key) -> const char* {
        return std::string(key) == "socketSetProb" ? "the skin's words" : nullptr;
    });
    set_->results = {1, -1};
    pool_->tick(10);
    pool_->tick(10);
    EXPECT_EQ(ui.printed().back(), "ERROR(0) the skin's words");
}

TEST_F(SocketPoolTest, ErrorInAServiceEndsTheTickAndPendingWorkWaits) {
    FakeConnection* failing = join(1);
    pool_->applyPending();
    failing->action = [](FakeConnection*) { error_at(__FILE__, __LINE__)("broken"); };
    join(2);
    EXPECT_FALSE(pool_->tick(10));
    EXPECT_EQ(pool_->activeCount(), 1);
    failing->action = nullptr;
    pool_->tick(10);
    EXPECT_EQ(pool_->activeCount(), 2);
}

TEST_F(SocketPoolTest, DumpListsStatusesAndDestructorDeletesEverything) {
    CaptureUI ui;
    join(1);
    join(2);
    pool_->applyPending();
    join(3);  // still pending
    pool_->dump();
    EXPECT_EQ(ui.printed(), (std::vector<std::string>{"(1) ???", "(2) ???"}));
    delete pool_;
    pool_ = nullptr;
    EXPECT_EQ(log_.deleted.size(), 3u);
}

}  // namespace

namespace {

TEST_F(SocketPoolTest, ThePauseWaitsOnTheSocketsForWhatEachConnectionWants) {
    FakeConnection* connection = join(1);
    pool_->applyPending();
    connection->wanted = kReadable | kReadyError;  // nothing to send
    set_->results = {0};
    pool_->waitForWork(5);
    EXPECT_EQ(connection->socket->setFlags, kReadable | kReadyError);
    EXPECT_EQ(set_->timeouts, (std::vector<int>{5}));
    // The tick that follows takes the pause's answer (nothing ready): it
    // does not wait again and serves nobody.
    pool_->tick(5);
    EXPECT_EQ(set_->timeouts.size(), 1u);
    EXPECT_TRUE(log_.served.empty());
    connection->wanted = Connection::kServeFlags;  // something queued
    pool_->waitForWork(5);
    EXPECT_EQ(connection->socket->setFlags, Connection::kServeFlags);
    pool_->tick(5);
    EXPECT_EQ(log_.served, (std::vector<int>{1}));
    EXPECT_EQ(set_->timeouts.size(), 2u);
    // Without a pause before it, a tick waits on its own.
    pool_->tick(5);
    EXPECT_EQ(set_->timeouts.back(), STSocketPool::kWaitMs);
}

TEST_F(SocketPoolTest, ASpentLimitedBudgetIsLeftOutOfThePause) {
    FakeConnection* connection = join(1);
    pool_->applyPending();
    const int all = kReadable | kWritable | kReadyError;
    struct Case {
        double up, down;
        bool spendWrite, spendRead;
        std::vector<int> masks;  // of the pause's waits
    } cases[] = {
        {0, 0, true, true, {all}},                   // no limits: spent means nothing
        {10, 0, false, false, {all}},                // budget left
        {10, 0, true, false, {kReadable | kReadyError, all}},
        {0, 10, false, true, {kWritable | kReadyError, all}},
        {10, 10, true, true, {kReadyError, all}},
    };
    for (const Case& c : cases) {
        bandwidth_.up = c.up;
        bandwidth_.down = c.down;
        connection->action = [&](FakeConnection*) {
            if (c.spendWrite) chargeWriteBudget(writeBudget());
            if (c.spendRead) chargeReadBudget(readBudget());
        };
        pool_->tick(5);
        set_->masks.clear();
        set_->timeouts.clear();
        pool_->waitForWork(TaskThread::kIdleSleepMs);
        EXPECT_EQ(set_->masks, c.masks) << c.up << " " << c.down;
        // A masked pause lasts no longer than a busy one (the time brings
        // the next budget); what is ready then is looked at.
        const std::vector<int> timeouts = c.masks.size() == 1 ? std::vector<int>{TaskThread::kIdleSleepMs}
                                                              : std::vector<int>{STSocketPool::kSpentWaitMs, 0};
        EXPECT_EQ(set_->timeouts, timeouts);
        pool_->tick(5);
    }
}

// Traffic that stops right after a service spent a limited budget (a
// paused or cancelled transfer) leaves nothing ready and the budget at 0:
// once the time has brought the next budget, the task thread's pause is
// its own again rather than the short one of a spent side.
TEST_F(SocketPoolTest, ASpentBudgetWithNothingReadyGivesBackTheStepsOwnPause) {
    ManualClock clock;
    ScopedClockSource clockScope(&clock);
    const int all = kReadable | kWritable | kReadyError;
    struct Case {
        double up, down;  // bytes per ms
        int shortPauses;  // kSpentWaitMs pauses before the next byte is due
    } cases[] = {
        {0, 10, 1},
        {10, 0, 1},
        {10, 10, 1},
        {0, 0.05, 4},  // 20 ms bring the next byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.up << " " << c.down);
        delete pool_;
        pool_ = new STSocketPool(&bandwidth_);
        set_ = protocol_->lastSet;
        budgets_reset();
        bandwidth_.up = c.up;
        bandwidth_.down = c.down;
        FakeConnection* connection = join(1);
        pool_->applyPending();
        // The last data: served once, spending what the limits let through;
        // then nothing is ready any more.
        connection->action = [](FakeConnection* self) {
            chargeReadBudget(readBudget());
            chargeWriteBudget(writeBudget());
            self->action = nullptr;
        };
        set_->results = {1};
        set_->results.insert(set_->results.end(), 200, 0);
        TaskThread thread;
        thread.addTask(pool_);
        std::vector<int> pauses;
        for (int i = 0; i < 30; i++) {
            const int stepPause = thread.step().sleepMs;
            set_->timeouts.clear();
            set_->masks.clear();
            pool_->waitForWork(stepPause);
            const bool shortPause = set_->timeouts == std::vector<int>{STSocketPool::kSpentWaitMs, 0};
            if (!shortPause) {
                EXPECT_EQ(set_->timeouts, std::vector<int>{stepPause}) << i;
                EXPECT_EQ(set_->masks, std::vector<int>{all}) << i;
            }
            pauses.push_back(shortPause ? STSocketPool::kSpentWaitMs : stepPause);
            clock.advanceMs(pauses.back());
        }
        EXPECT_EQ(log_.served.size(), 1u);
        std::vector<int> expected(c.shortPauses, STSocketPool::kSpentWaitMs);
        expected.resize(pauses.size(), TaskThread::kIdleSleepMs);
        EXPECT_EQ(pauses, expected);
        thread.removeTask(pool_);
        log_.served.clear();
    }
}

// A TCP connection on a scripted socket that is always ready.
class ScriptedTcp : public TCPConnection {
public:
    explicit ScriptedTcp(FakeSocket* socket) : TCPConnection(socket, 0xE3) {}
    bool onMessage(uint8_t, i4_ram_file_class*) override {
        messages++;
        return true;
    }
    void queueData(int payload, int count) {
        for (int i = 0; i < count; i++) {
            auto packet = new TCPPacket(payload, 0xE3);
            packet->buffer()->write_8(70);
            packet->buffer()->write(std::string(payload - 1, 'd').data(), payload - 1);
            queue(packet);
        }
    }
    int messages = 0;
};

TEST_F(SocketPoolTest, ALimitedUploadMovesItsLimitWhateverTheStepLength) {
    struct Case {
        double limit;  // KB/s, taken as bytes per ms
        std::vector<int> steps;  // ms of the steps, repeated
    } cases[] = {
        {100, {5}}, {100, {50}}, {100, {1, 7, 3}}, {1000, {5}}, {1000, {2, 40}}, {0.3, {5, 11}},
    };
    for (const Case& c : cases) {
        budgets_reset();
        auto socket = new FakeSocket();
        socket->ready = kWritable;
        auto connection = new ScriptedTcp(socket);
        connection->queueData(60000, 200);  // more than the limit lets through
        pool_->add(connection);
        pool_->applyPending();
        bandwidth_.up = c.limit;
        int64_t ms = 0;
        for (int i = 0; ms < 10000; i++) {
            int step = c.steps[i % c.steps.size()];
            pool_->tick(step);
            ms += step;
        }
        const double expected = c.limit * static_cast<double>(ms);
        EXPECT_NEAR(static_cast<double>(socket->written.size()), expected, 1.0) << c.limit << " " << ms;
        EXPECT_GT(connection->queuedPackets(), 0);
        pool_->remove(connection);
        pool_->applyPending();
    }
}

// The task thread ticks the pool as often as work arrives, often many
// times a millisecond, and now and then late: a limited download still
// reads its limit times the time that passed.
TEST_F(SocketPoolTest, ALimitedDownloadReadsItsLimitOverTheTaskThreadsSteps) {
    ManualClock clock;
    ScopedClockSource clockScope(&clock);
    const int payload = 1000;
    struct Case {
        double limit;                  // KB/s, taken as bytes per ms
        std::vector<int64_t> stepsUs;  // repeated until kPassedUs have passed
    } cases[] = {
        {100, {300}},
        {20000, {300}},
        {1000, {700, 1300}},
        {0.5, {300}},
        // A late step brings more than one service reads (the cap); the
        // short steps after it take the rest.
        {20000, {30000, 300, 300, 300, 300, 300}},
    };
    constexpr int64_t kPassedUs = 300000;
    for (const Case& c : cases) {
        int64_t cycleUs = 0;
        for (int64_t us : c.stepsUs) cycleUs += us;
        const int64_t cycles = (kPassedUs + cycleUs - 1) / cycleUs;
        // Frame headers (5 bytes) are not charged to the budget.
        const double expected =
            c.limit * static_cast<double>(cycles * cycleUs / 1000) * (payload + 5) / payload;

        delete pool_;
        pool_ = new STSocketPool(&bandwidth_);
        budgets_reset();
        bandwidth_.down = c.limit;
        auto socket = new FakeSocket();
        socket->ready = kReadable;
        std::string frames;
        while (frames.size() < expected + 4 * payload) frames += tcp_frame(70, std::string(payload - 1, 'd'));
        socket->queueReads(frames, 4096);
        auto connection = new ScriptedTcp(socket);
        pool_->add(connection);

        TaskThread thread;
        thread.addTask(pool_);
        thread.step();  // the connection joins
        for (int64_t i = 0; i < cycles; i++) {
            for (int64_t us : c.stepsUs) {
                clock.advanceUs(us);
                thread.step();
            }
        }
        size_t left = 0;
        for (const std::string& piece : socket->reads) left += piece.size();
        const size_t read = frames.size() - left;
        EXPECT_NEAR(static_cast<double>(read), expected, payload + 5) << c.limit << " " << c.stepsUs.size();
        thread.removeTask(pool_);
    }
}

TEST_F(SocketPoolTest, OneServiceMovesAConnectionsDataUpToItsCap) {
    auto socket = new FakeSocket();
    socket->ready = kReadable | kWritable;
    auto connection = new ScriptedTcp(socket);
    pool_->add(connection);
    pool_->applyPending();
    // Small frames: all of them in one service, both ways.
    connection->queueData(100, 10);
    std::string frames;
    for (int i = 0; i < 10; i++) frames += tcp_frame(70, std::string(99, 'd'));
    socket->queueReads(frames, 200);
    pool_->tick(5);
    EXPECT_EQ(connection->queuedPackets(), 0);
    EXPECT_EQ(socket->written, frames);
    EXPECT_EQ(connection->messages, 10);
    // Large ones: a service stops once the cap is reached.
    const int payload = 100 * 1024;
    connection->queueData(payload, 5);
    socket->written.clear();
    std::string large;
    for (int i = 0; i < 5; i++) large += tcp_frame(70, std::string(payload - 1, 'd'));
    socket->queueReads(large, 64 * 1024);
    pool_->tick(5);
    const size_t frameBytes = payload + 5;
    EXPECT_EQ(socket->written.size(), 3 * frameBytes);  // the third passes the cap
    EXPECT_EQ(connection->queuedPackets(), 2);
    EXPECT_GE(connection->messages, 12);
    EXPECT_LT(connection->messages, 15);
    for (int i = 0; i < 3; i++) pool_->tick(5);
    EXPECT_EQ(connection->queuedPackets(), 0);
    EXPECT_EQ(connection->messages, 15);
}

}  // namespace

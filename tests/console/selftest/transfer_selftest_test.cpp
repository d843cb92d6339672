// The download side's self test against the real download pool, downloads
// and peer sources in a scratch directory, with a peer pool that answers
// connects as the client's would: this client itself cannot be called,
// anyone else is being connected to.
#include "console/selftest/transfer_test.h"

#include <gtest/gtest.h>

#include <vector>

#include "console/selftest/test_master.h"
#include "core/net/ip_text.h"
#include "core/options/core_options.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/source_peer.h"
#include "support/download_world.h"

namespace {

class AnsweringPeerPool : public SourcePeerPool {
public:
    int connect(UserMeta* user, SourcePeer** out) override {
        if (out) *out = nullptr;
        asked.emplace_back(user->ip(), user->port());
        return user->sameUser(coreOptions()->ownUserMeta()) ? ownAnswer : otherAnswer;
    }
    SourcePeer* findByUser(const UserMeta*) override { return nullptr; }
    bool contains(const SourcePeer*) override { return false; }
    int connectionCount() override { return 0; }
    SourcePeer* peerOf(TCPConnection*) override { return nullptr; }

    int ownAnswer = kNotCalled;
    int otherAnswer = kConnecting;
    std::vector<std::pair<uint32_t, uint16_t>> asked;
};

class TransferSelfTest : public ::testing::Test {
protected:
    TransferSelfTest() {
        CoreOptions* options = coreOptions();
        options->setOwnIP(ipFromText("10.1.2.3"));
        options->setTcpPort(4662);
        setSourcePeerPool(&peers_);
    }
    ~TransferSelfTest() override { setSourcePeerPool(nullptr); }

    struct Listed {
        std::string name;
        uint64_t size;
        UniqueID hash;
    };
    std::vector<Listed> downloads() {
        std::vector<Listed> listed;
        LLsafe* list = world_.pool->downloadList();
        list->lock();
        for (int i = 0; i < list->LL::count(); i++) {
            auto* download = static_cast<Download*>(list->LL::at(i));
            listed.push_back({download->name().c_str(), download->size(), download->fileHash()});
        }
        list->unlock();
        return listed;
    }

    support::DownloadWorld world_;
    AnsweringPeerPool peers_;
};

TEST_F(TransferSelfTest, PassesAndLeavesItsDownload) {
    TransferTest test;
    EXPECT_TRUE(test.run());
    EXPECT_EQ(world_.ui.text(),
              " TransferTest test:\n TransferTest::testFileSource()\nDownloading: test.file\n\ttest1\n\ttest2\n");
    // This client once, then six attempts at 127.0.0.1 port 0.
    ASSERT_EQ(peers_.asked.size(), 7u);
    EXPECT_EQ(peers_.asked[0], std::make_pair(ipFromText("10.1.2.3"), uint16_t{4662}));
    for (size_t i = 1; i < peers_.asked.size(); i++)
        EXPECT_EQ(peers_.asked[i], std::make_pair(ipFromText("127.0.0.1"), uint16_t{0}));

    std::vector<Listed> listed = downloads();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].name, "test.file");
    EXPECT_EQ(listed[0].size, 100u);
    Download* download = world_.pool->findDownload(listed[0].hash);
    ASSERT_NE(download, nullptr);
    EXPECT_TRUE(download->lock(1)) << "the test let go of the lock";
    download->unlock();
    download->release();
}

TEST_F(TransferSelfTest, TwoRunsLeaveTwoDownloadsWithDifferentHashes) {
    for (int run = 0; run < 2; run++) {
        TransferTest test;
        EXPECT_TRUE(test.run()) << run;
    }
    std::vector<Listed> listed = downloads();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].name, "test.file");
    EXPECT_EQ(listed[1].name, "test.file");
    EXPECT_FALSE(listed[0].hash.equals(listed[1].hash));
}

TEST_F(TransferSelfTest, FailsWhenASourceGoesAnotherWay) {
    struct Case {
        const char* name;
        int ownAnswer, otherAnswer;
        const char* lastLine;
    } cases[] = {
        {"this client is being called", SourcePeerPool::kConnecting, SourcePeerPool::kConnecting, "\ttest1\n"},
        {"the other cannot be called", SourcePeerPool::kNotCalled, SourcePeerPool::kBothLowId, "\ttest2\n"},
        {"the other is connected already", SourcePeerPool::kNotCalled, SourcePeerPool::kConnected, "\ttest2\n"},
    };
    for (const Case& c : cases) {
        peers_.ownAnswer = c.ownAnswer;
        peers_.otherAnswer = c.otherAnswer;
        world_.ui.clear();
        TestMaster master;
        master.add(new TransferTest);
        master.run();
        std::string expected = std::string(c.lastLine) + "ERRORS ::::--- FIX NOW\n";
        const std::string text = world_.ui.text();
        ASSERT_GE(text.size(), expected.size()) << c.name;
        EXPECT_EQ(text.substr(text.size() - expected.size()), expected) << c.name;
    }
}

TEST(TransferSelfTestAlone, FailsWithoutADownloadPool) {
    support::CaptureUI ui;
    TransferTest test;
    EXPECT_FALSE(test.run());
    EXPECT_EQ(ui.text(), " TransferTest test:\n TransferTest::testFileSource()\n");
}

}  // namespace

// The service publisher over scripted nodes that acknowledge publishes:
// the queue and its steps, the republish check, refreshes, unpublishing,
// republishing after too few acknowledgements, new location links, and
// the keywords of a shared file.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "overlay/routing/contact_list.h"
#include "overlay/index/file_keywords.h"
#include "overlay/opcodes.h"
#include "overlay/index/service_publisher.h"
#include "overlay/overlay_fixture.h"
#include "overlay/scripted_nodes_fixture.h"
#include "v4ada/digest/md4.h"

using namespace overlaytest;

namespace {

UniqueID md4Of(const char* text) {
    UniqueID id;
    md4String(id.bytes(), text);
    return id;
}

class PublishTest : public GatewayTest {
protected:
    void SetUp() override {
        startGateway();
        nodes_ = std::make_unique<ScriptedNodes>(sim_.network, 60, 5);
        for (auto& node : nodes_->nodes()) {
            node->onRequest = [this](ScriptedNode& self, const support::Datagram& d) {
                std::vector<std::string> replies;
                if (d.opcode() != INODE_PUBLISH || d.bytes.size() < 18) return replies;
                publishes_.push_back(d.bytes.substr(2, 16));
                if (acks_ > 0 || acks_ < 0) {
                    if (acks_ > 0) acks_--;
                    if (!wrongAck_) replies.push_back(datagram(INODE_PUBLISHACK, d.bytes.substr(2, 16)));
                }
                if (wrongAck_) replies.push_back(datagram(INODE_PUBLISHACK, idBytes(idOf({0xEE}))));
                (void)self;
                return replies;
            };
        }
        for (int i = 0; i < 4; i++) gateway_->contacts()->add(&nodes_->at(static_cast<size_t>(i * 15)).node);
    }

    void settleOpen() {
        gateway_->self().setIp(ipFromText("198.51.100.7"));
        gateway_->setFirewalled(NetworkGateway::kOpen);
        ASSERT_EQ(gateway_->firewallStatus(), 0);
    }
    std::unique_ptr<Service> keyword(uint8_t tag, const char* title = "a") {
        auto s = std::make_unique<Service>();
        s->serviceId = idOf({tag});
        s->descId = idOf({0xDD});
        s->set("title", title, kTagString);
        return s;
    }
    size_t publishesOf(const UniqueID& key) {
        return static_cast<size_t>(std::count(publishes_.begin(), publishes_.end(), idBytes(key)));
    }
    // Keys in the order their first publish went out.
    std::vector<std::string> firstOrder() {
        std::vector<std::string> order;
        for (const std::string& key : publishes_)
            if (std::find(order.begin(), order.end(), key) == order.end()) order.push_back(key);
        return order;
    }

    std::unique_ptr<ScriptedNodes> nodes_;
    std::vector<std::string> publishes_;
    int acks_ = -1;  // acknowledgements left to give; negative: always
    bool wrongAck_ = false;
};

TEST_F(PublishTest, QueueWaitsForAVerdictThenOnePerStepFrontFirst) {
    for (uint8_t i = 1; i <= 3; i++) {
        auto s = keyword(i);
        gateway_->publish(s.get(), false, 1.0);
    }
    for (uint8_t i = 4; i <= 5; i++) {
        auto s = keyword(i);
        gateway_->publish(s.get(), true, 0.4);
    }
    sim_.advance(9000);
    EXPECT_TRUE(publishes_.empty());
    EXPECT_EQ(gateway_->publisher().queuedCount(), 5);
    settleOpen();
    sim_.advance(1000);
    EXPECT_TRUE(publishes_.empty()) << "a step is more than 1000 ms";
    sim_.advance(100);
    EXPECT_EQ(firstOrder(), std::vector<std::string>{idBytes(idOf({5}))});
    EXPECT_EQ(publishesOf(idOf({5})), 4u) << "the four nearest nodes";
    sim_.advance(4400);
    EXPECT_EQ(firstOrder(), (std::vector<std::string>{idBytes(idOf({5})), idBytes(idOf({4})), idBytes(idOf({1})),
                                                      idBytes(idOf({2})), idBytes(idOf({3}))}));
    EXPECT_EQ(gateway_->publisher().publishedCount(), 5);
    EXPECT_EQ(gateway_->publisher().findPublished(idOf({4}), idOf({0xDD}))->interval, 7200);
    EXPECT_EQ(gateway_->publisher().findPublished(idOf({1}), idOf({0xDD}))->interval, 18000);

    gateway_->publisher().setStep(5000);
    auto later = keyword(6);
    gateway_->publish(later.get(), false, 1.0);
    sim_.advance(5000);
    EXPECT_EQ(publishesOf(idOf({6})), 0u);
    sim_.advance(200);
    EXPECT_EQ(publishesOf(idOf({6})), 4u);
}

TEST_F(PublishTest, RepublishedByTheCheckAfterItsInterval) {
    settleOpen();
    auto s = keyword(1);
    gateway_->publish(s.get(), false, 1.0);
    sim_.advance(1200);
    ASSERT_EQ(publishesOf(idOf({1})), 4u);
    // Due once 18000 s have passed: the first check after that.
    sim_.advance(5LL * 3600 * 1000 - 1200 - 60000, 10000);
    EXPECT_EQ(publishesOf(idOf({1})), 4u);
    sim_.advance(12LL * 60 * 1000, 1000);
    EXPECT_EQ(publishesOf(idOf({1})), 8u);
}

TEST_F(PublishTest, RefreshSendsOnlyWhenTheTagsChanged) {
    settleOpen();
    auto s = keyword(1, "same");
    gateway_->publish(s.get(), false, 1.0);
    sim_.advance(1200);
    ASSERT_EQ(publishesOf(idOf({1})), 4u);
    gateway_->publish(s.get(), false, 0.4);
    sim_.advance(1200);
    EXPECT_EQ(publishesOf(idOf({1})), 4u) << "nothing new to say";
    EXPECT_EQ(gateway_->publisher().findPublished(idOf({1}), idOf({0xDD}))->interval, 7200);
    auto changed = keyword(1, "other");
    gateway_->publish(changed.get(), false, 1.0);
    sim_.advance(1200);
    EXPECT_EQ(publishesOf(idOf({1})), 8u) << "new tags go out at once";
    EXPECT_STREQ(gateway_->publisher().findPublished(idOf({1}), idOf({0xDD}))->textOf("title"), "other");
}

TEST_F(PublishTest, UnpublishRemovesBothEntries) {
    settleOpen();
    auto s = keyword(1);
    gateway_->publish(s.get(), false, 1.0);
    sim_.advance(1200);
    gateway_->publish(s.get(), false, 1.0);
    EXPECT_EQ(gateway_->publisher().publishedCount(), 1);
    EXPECT_EQ(gateway_->publisher().queuedCount(), 1);
    gateway_->unpublish(s.get());
    EXPECT_EQ(gateway_->publisher().publishedCount(), 0);
    EXPECT_EQ(gateway_->publisher().queuedCount(), 0);
}

TEST_F(PublishTest, FewerThanThreeAcknowledgementsPublishAgain) {
    settleOpen();
    acks_ = 2;
    auto s = keyword(1);
    gateway_->publish(s.get(), false, 1.0);
    // The silent destinations time out and others are asked, until the
    // lookup has none left.
    for (int round = 0; round < 100 && gateway_->requesterCount() > 0; round++) sim_.advance(10000, 1000);
    ASSERT_EQ(gateway_->requesterCount(), 0);
    size_t first = publishesOf(idOf({1}));
    EXPECT_GT(first, 4u);
    sim_.advance(600000 + 1000, 1000);
    EXPECT_GT(publishesOf(idOf({1})), first) << "marked at the end, queued by the next check";
}

TEST_F(PublishTest, AcknowledgementOfAnotherKeyIsNotCounted) {
    settleOpen();
    wrongAck_ = true;
    auto s = keyword(1);
    gateway_->publish(s.get(), false, 1.0);
    sim_.advance(1200);
    EXPECT_EQ(gateway_->requesterCount(), 1) << "no success counted";
}

TEST_F(PublishTest, NewLocationLinkGoesIntoEveryLocationService) {
    settleOpen();
    FileMeta file;
    file.setFileHash(idOf({0xF1}));
    file.setSpecial(ST_NAME, "The_Best_of_Harbor.mp3");
    gateway_->publishFile(&file);
    sim_.advance(5000);
    ASSERT_EQ(publishesOf(idOf({0xF1})), 4u);
    EXPECT_EQ(publishesOf(md4Of("best")), 4u);
    EXPECT_EQ(publishesOf(md4Of("harbor")), 4u);
    host_->door = 4700;
    gateway_->updateLocation();
    EXPECT_STREQ(gateway_->location().c_str(), "bcp://198.51.100.7:4700");
    sim_.advance(1200);
    EXPECT_EQ(publishesOf(idOf({0xF1})), 8u) << "the old port must not stay in the index";
    EXPECT_STREQ(gateway_->publisher().findPublished(idOf({0xF1}), ownId_)->textOf("loc"), "bcp://198.51.100.7:4700");
    EXPECT_EQ(publishesOf(md4Of("best")), 4u);
    gateway_->updateLocation();
    sim_.advance(5000);
    EXPECT_EQ(publishesOf(idOf({0xF1})), 8u) << "unchanged: nothing";
}

// A retest learns a new own address while the test runs, when nothing may
// be published: once it ends open, the published location takes the new
// link instead of keeping the old one at every republish.
TEST_F(PublishTest, ARetestThatLearnsANewAddressRelocatesThePublishedLocation) {
    settleOpen();
    FileMeta file;
    file.setFileHash(idOf({0xF1}));
    file.setSpecial(ST_NAME, "a.bin");
    gateway_->publishFile(&file);
    sim_.advance(5000);
    ASSERT_EQ(publishesOf(idOf({0xF1})), 4u);

    gateway_->republishAll();
    ASSERT_EQ(gateway_->firewallStatus(), NetworkGateway::kUnknown);
    gateway_->self().setIp(ipFromText("203.0.113.9"));
    gateway_->setFirewalled(NetworkGateway::kOpen);
    sim_.advance(1200);
    EXPECT_STREQ(gateway_->publisher().findPublished(idOf({0xF1}), ownId_)->textOf("loc"), "bcp://203.0.113.9:4662");
    EXPECT_EQ(publishesOf(idOf({0xF1})), 8u);
}

TEST(FileKeywords, FromTheNames) {
    struct Case {
        const char* name;
        std::vector<std::string> keywords;
    };
    const Case cases[] = {
        {"The_Best_of_Harbor.mp3", {"best", "harbor"}},
        {"ab.c", {}},
        {"one two three four five six seven eight", {"one", "two", "three", "four", "five", "six"}},
        {"mp3 song.mp3", {"song"}},
        {"MP3 song.mp3", {"mp3", "song"}},
        {"THE the ThE [Live]{x}(Deluxe)!?<a>:b\\c/d\tEdition\nEnd", {"live", "deluxe", "edition", "end"}},
        {"abcd", {"abcd"}},
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(fileKeywords(c.name, kKeywordsPerFile), c.keywords) << c.name;
    std::string longToken(300, 'x');
    std::vector<std::string> cut = fileKeywords(longToken.c_str(), kKeywordsPerFile);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].size(), 255u);
}

TEST_F(PublishTest, SharedFilePublishesLocationAndSixKeywordsAtTheBack) {
    FileMeta file;
    file.setFileHash(idOf({0xF2}));
    file.setSpecial(ST_NAME, "one two three four five six seven eight.avi");
    gateway_->publishFile(&file);
    EXPECT_EQ(gateway_->publisher().queuedCount(), 6) << "the location waits for a verdict";
    for (const auto& entry : gateway_->publisher().queue()) {
        EXPECT_TRUE(entry->descId.equals(idOf({0xF2})));
        EXPECT_STREQ(entry->textOf(specialCodeName(ST_NAME)), "one two three four five six seven eight.avi");
    }
    EXPECT_TRUE(gateway_->publisher().queue().front()->serviceId.equals(md4Of("one")));
    settleOpen();
    EXPECT_EQ(gateway_->publisher().queuedCount(), 7);
    EXPECT_TRUE(gateway_->publisher().queue().front()->serviceId.equals(idOf({0xF2})));
}

TEST_F(PublishTest, ARecordOfVeryManyTagsIsWalkedOnce) {
    // A walk per tag would take hours here; one walk takes moments.
    FileMeta file;
    file.setFileHash(idOf({0xF3}));
    for (int i = 0; i < 100000; i++) file.addTag(MetaTag::makeTag(kTagString, "c", "v"));
    file.setSpecial(ST_NAME, "harbor lights");
    gateway_->publishFile(&file);
    ASSERT_EQ(gateway_->publisher().queuedCount(), 2);
    EXPECT_TRUE(gateway_->publisher().queue().front()->serviceId.equals(md4Of("harbor")));
    EXPECT_STREQ(gateway_->publisher().queue().back()->textOf(specialCodeName(ST_NAME)), "harbor lights");
}

}  // namespace

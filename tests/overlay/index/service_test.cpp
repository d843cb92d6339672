// Services, searches and the service directory: wire forms, refresh and
// rate, the next/total rules, expiry and the caps.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/meta/meta_tag.h"
#include "core/meta/special_tags.h"
#include "core/search/search_node.h"
#include "overlay/gateway/flock_gateway.h"
#include "overlay/index/service.h"
#include "overlay/index/service_cleaner.h"
#include "overlay/index/service_directory.h"
#include "overlay/index/service_search.h"
#include "overlay/overlay_fixture.h"
#include "support/memory_files.h"
#include "support/ui_capture.h"
#include "v4ada/digest/md4.h"
#include "v4ada/time/clock_source.h"

using namespace overlaytest;

namespace {

std::string bytesOf(const std::function<void(i4_file*)>& write) {
    support::ByteWriter writer;
    write(writer.file());
    return support::as_text(writer.bytes());
}

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest() { initSpecialTags(); }
    ~ServiceTest() override { resetSpecialTags(); }

    TimedService* entry(const UniqueID& key, const UniqueID& desc, const char* name = "x") {
        auto service = new TimedService();
        service->serviceId = key;
        service->descId = desc;
        service->stamp = service->firstSeen;
        service->set("n", name, kTagString);
        return service;
    }
    std::vector<Service*> lookup(ServiceSearch& search, int* next, int* total) {
        LL out;
        *total = directory_.lookup(&search, next, &out);
        std::vector<Service*> found;
        for (int i = 0; i < out.count(); i++) found.push_back(static_cast<Service*>(out.at(i)));
        return found;
    }

    ManualClock clock_{1000000};
    ScopedClockSource scope_{&clock_};
    ServiceDirectory directory_;
};

TEST_F(ServiceTest, ServiceWireForm) {
    support::CaptureUI output;
    Service service;
    service.serviceId = idOf({1, 2});
    service.descId = idOf({3, 4});
    service.set("loc", "bcp://192.0.2.7:4662", kTagString);
    std::string bytes = bytesOf([&](i4_file* f) { service.toNetwork(f); });
    EXPECT_EQ(bytes.substr(0, 32), idBytes(service.serviceId) + idBytes(service.descId));
    EXPECT_EQ(le32At(bytes, 32), 1u);
    EXPECT_EQ(static_cast<int>(bytes.size()), service.size());

    Service back;
    support::ByteReader reader(support::as_bytes(bytes));
    ASSERT_TRUE(back.fromNetwork(reader.file()));
    EXPECT_TRUE(back.descId.equals(service.descId));
    EXPECT_STREQ(back.textOf("loc"), "bcp://192.0.2.7:4662");
    for (size_t cut : {size_t{0}, size_t{20}, size_t{34}, bytes.size() - 1}) {
        Service partial;
        support::ByteReader shortReader(support::as_bytes(bytes.substr(0, cut)));
        EXPECT_FALSE(partial.fromNetwork(shortReader.file())) << cut;
    }
}

TEST_F(ServiceTest, KeywordSearchKeyAndWireForm) {
    uint8_t harbor[16];
    md4String(harbor, "harbor");
    for (const char* word : {"Harbor", "HARBOR", "harbor"}) {
        ServiceSearch search(word);
        EXPECT_TRUE(search.key.equals(harbor)) << word;
        EXPECT_STREQ(search.keyword().c_str(), "harbor");
    }
    ServiceSearch plain(idOf({9}));
    plain.start = 3;
    plain.max = 250;
    std::string bytes = bytesOf([&](i4_file* f) { EXPECT_TRUE(plain.write(f)); });
    EXPECT_EQ(bytes, idBytes(idOf({9})) + std::string(1, '\0') + le16(3) + le16(250));
    EXPECT_EQ(plain.size(), 21);

    ServiceSearch tree(idOf({9}));
    tree.add(new SN_FindStr("moon"), kSearchAnd);
    std::string withTree = bytesOf([&](i4_file* f) { EXPECT_TRUE(tree.write(f)); });
    EXPECT_EQ(tree.size(), 21 + 7);
    EXPECT_EQ(withTree, idBytes(idOf({9})) + "\x01" + "\x01" + le16(4) + "moon" + le16(0) + le16(100));

    ServiceSearch back;
    support::ByteReader reader(support::as_bytes(withTree));
    ASSERT_TRUE(back.read(reader.file()));
    EXPECT_TRUE(back.key.equals(idOf({9})));
    EXPECT_EQ(back.max, 100);
    ASSERT_NE(back.root(), nullptr);
    Meta blue, red;
    blue.set("n", "Blue MOON", kTagString);
    red.set("n", "red sun", kTagString);
    EXPECT_TRUE(back.matches(&blue));
    EXPECT_FALSE(back.matches(&red));
    EXPECT_TRUE(plain.matches(&red));

    for (const std::string& bad : {withTree.substr(0, 20), withTree.substr(0, withTree.size() - 1),
                                   idBytes(idOf({9})) + "\x01\x07" + le16(0) + le16(1)}) {
        ServiceSearch broken;
        support::ByteReader badReader(support::as_bytes(bad));
        EXPECT_FALSE(broken.read(badReader.file()));
    }
}

TEST_F(ServiceTest, RefreshKeepsFirstSeenAndRates) {
    UniqueID key = idOf({1}), desc = idOf({2});
    TimedService* first = entry(key, desc, "first");
    int64_t t0 = first->firstSeen;
    directory_.add(first);
    directory_.add(entry(key, desc, "second"));  // same second
    int next = 0, total = 0;
    ServiceSearch search(key);
    std::vector<Service*> found = lookup(search, &next, &total);
    ASSERT_EQ(found.size(), 1u);
    auto kept = static_cast<TimedService*>(found[0]);
    EXPECT_EQ(kept, first);
    EXPECT_STREQ(kept->textOf("n"), "second");
    EXPECT_EQ(kept->firstSeen, t0);
    EXPECT_EQ(kept->getSpecialInt(ST_AVAILABILITY), 3600);

    // A fresh entry refreshed 99 s after it was first seen.
    UniqueID other = idOf({3});
    directory_.add(entry(other, desc));
    clock_.advanceMs(99000);
    directory_.add(entry(other, desc, "later"));
    ServiceSearch otherSearch(other);
    found = lookup(otherSearch, &next, &total);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->getSpecialInt(ST_AVAILABILITY), 36);
    EXPECT_EQ(found[0]->stamp - static_cast<TimedService*>(found[0])->firstSeen, 99);

    // The clock stepped back past the first sighting: no division by zero.
    clock_.set(ClockReading{1000000 - 5000, 0});
    directory_.add(entry(other, desc, "back"));
    found = lookup(otherSearch, &next, &total);
    EXPECT_EQ(found[0]->getSpecialInt(ST_AVAILABILITY), 3600 + 36 * 99);
    EXPECT_EQ(directory_.count(), 2);

    // A rate near the int32 limit saturates instead of wrapping.
    TimedService big;
    big.firstSeen = 0;
    big.stamp = 1;
    big.updateRate(INT32_MAX, 1000000);
    EXPECT_EQ(big.getSpecialInt(ST_AVAILABILITY), INT32_MAX);
}

TEST_F(ServiceTest, TwoDescriptionsAreTwoEntries) {
    directory_.add(entry(idOf({1}), idOf({2})));
    directory_.add(entry(idOf({1}), idOf({3})));
    EXPECT_EQ(directory_.count(), 2);
}

TEST_F(ServiceTest, VisitSeesEveryEntryAndRemovesNone) {
    // A visitor that answers "drop" to everything: the walk keeps all.
    struct Refusing : ElementFunctor {
        bool apply(void* value, void*) override {
            seen.push_back(static_cast<Service*>(value)->descId.bytes()[0]);
            return false;
        }
        std::vector<int> seen;
    } visitor;
    for (uint8_t i = 1; i <= 3; i++) directory_.add(entry(idOf({1}), idOf({i})));
    directory_.add(entry(idOf({2}), idOf({4})));
    directory_.visit(&visitor, nullptr);
    std::sort(visitor.seen.begin(), visitor.seen.end());
    EXPECT_EQ(visitor.seen, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(directory_.count(), 4);
    int next = 0, total = 0;
    ServiceSearch first(idOf({1}));
    EXPECT_EQ(lookup(first, &next, &total).size(), 3u);
}

TEST_F(ServiceTest, NextAndTotal) {
    struct Case {
        const char* name;
        int entries;
        int matching;  // every n-th entry matches (1: all)
        int start, max;
        size_t delivered;
        int next, total;
    } cases[] = {
        {"limit 100 of 120", 120, 1, 0, 250, 100, 99, 120},
        {"3 of 7 match", 7, 2, 0, 100, 4, 7, 7},
        {"start past the end", 4, 1, 10, 100, 0, 10, 10},
        {"start inside", 10, 1, 4, 3, 3, 6, 10},
        {"a limit of 0 still delivers the first", 5, 1, 1, 0, 1, 1, 5},
        {"no key", 0, 1, 0, 100, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceDirectory directory;
        UniqueID key = idOf({0x44});
        for (int i = 0; i < c.entries; i++) {
            TimedService* s = entry(key, idOf({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 1}), i % c.matching == 0 ? "hit" : "miss");
            directory.add(s);
        }
        ServiceSearch search(key);
        if (c.matching > 1) search.add(new SN_FindStr("hit"), kSearchAnd);
        search.start = c.start;
        search.max = c.max;
        LL out;
        int next = -5;
        int total = directory.lookup(&search, &next, &out);
        EXPECT_EQ(static_cast<size_t>(out.count()), c.delivered);
        EXPECT_EQ(next, c.next);
        EXPECT_EQ(total, c.total);
    }
}

TEST_F(ServiceTest, ExpiryOneSecondEitherSideOfSixHours) {
    directory_.add(entry(idOf({1}), idOf({1})));
    clock_.advanceMs(2000);
    directory_.add(entry(idOf({2}), idOf({2})));
    clock_.advanceMs(21599000);  // the first is 21601 s old, the second 21599 s
    directory_.expire(kServiceMaxAgeSeconds);
    EXPECT_EQ(directory_.count(), 1);
    int next = 0, total = 0;
    ServiceSearch gone(idOf({1})), kept(idOf({2}));
    EXPECT_EQ(lookup(gone, &next, &total).size(), 0u);
    EXPECT_EQ(total, 0) << "the emptied key is gone";
    EXPECT_EQ(lookup(kept, &next, &total).size(), 1u);
    clock_.advanceMs(1000);
    directory_.expire(kServiceMaxAgeSeconds);
    EXPECT_EQ(directory_.count(), 1) << "exactly 6 hours is not older";
    clock_.advanceMs(1000);
    directory_.expire(kServiceMaxAgeSeconds);
    EXPECT_EQ(directory_.count(), 0);
}

TEST_F(ServiceTest, CleanerWalksEveryTwentyMinutes) {
    support::OverlaySim sim;
    support::SimHost& host = sim.addHost(idOf({1}), "10.0.0.1", 4000, "/nonexistent");
    FlockGateway gateway(host);
    gateway.directory().add(entry(idOf({1}), idOf({1})));
    sim.clock.advanceMs(30000000);  // the simulation's clock is the one in use
    EXPECT_FALSE(gateway.cleaner().tick(1200000));
    EXPECT_EQ(gateway.directory().count(), 1);
    gateway.cleaner().tick(1);
    EXPECT_EQ(gateway.directory().count(), 0);
}

TEST_F(ServiceTest, CapsEvictTheOldestStamp) {
    UniqueID key = idOf({0x55});
    for (int i = 0; i < kServicesPerKeyMax; i++) {
        directory_.add(entry(key, idOf({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 9})));
        if (i == 0) clock_.advanceMs(1000);
    }
    // Refreshing the oldest makes the second the oldest.
    directory_.add(entry(key, idOf({0, 0, 9})));
    clock_.advanceMs(1000);
    directory_.add(entry(key, idOf({0xFF, 0xFF, 9})));
    EXPECT_EQ(directory_.count(), kServicesPerKeyMax);
    int next = 0, total = 0;
    ServiceSearch search(key);
    search.max = 100;
    std::vector<Service*> found = lookup(search, &next, &total);
    EXPECT_EQ(total, kServicesPerKeyMax);
    EXPECT_TRUE(found[0]->descId.equals(idOf({0, 0, 9}))) << "the refreshed entry stayed";
    EXPECT_TRUE(found[1]->descId.equals(idOf({2, 0, 9}))) << "entry 1 was evicted";

    ServiceDirectory all;
    for (int i = 0; i < kServicesMax + 10; i++) {
        if (i == 5) clock_.advanceMs(1000);
        all.add(entry(idOf({static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16)}), idOf({1})));
    }
    EXPECT_EQ(all.count(), kServicesMax);
    for (int i : {0, 9}) {
        ServiceSearch first(idOf({static_cast<uint8_t>(i), 0, 0}));
        LL out;
        int n = 0;
        EXPECT_EQ(all.lookup(&first, &n, &out), 0) << "evicted oldest " << i;
    }
    ServiceSearch kept(idOf({10, 0, 0}));
    LL out;
    int n = 0;
    EXPECT_EQ(all.lookup(&kept, &n, &out), 1);
}

}  // namespace

// Node records, the XOR order, node lists and contact.dat.
#include <gtest/gtest.h>

#include <random>

#include "core/net/ip_text.h"
#include "overlay/overlay_fixture.h"
#include "overlay/routing/node.h"
#include "overlay/routing/node_list.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/temp_dir_test.h"
#include "support/ui_capture.h"
#include "v4ada/error/error.h"

using namespace overlaytest;

namespace {

TEST(NodeRecord, BytesAndReadBack) {
    struct Case {
        int misses;
        uint8_t byte;
    } cases[] = {{0, 0}, {4, 4}, {255, 255}, {300, 44}, {-1, 255}};
    for (const Case& c : cases) {
        Node node = makeNode(idOf({0x12, 0x34}), "10.1.2.3", 4672, c.misses);
        support::ByteWriter writer;
        node.write(writer.file());
        std::string bytes = support::as_text(writer.bytes());
        ASSERT_EQ(bytes.size(), 23u);
        EXPECT_EQ(bytes, idBytes(node.id) + std::string("\x0A\x01\x02\x03", 4) + le16(4672) +
                             std::string(1, static_cast<char>(c.byte)));
        Node back = recordAt(bytes, 0);
        EXPECT_EQ(back.misses, c.byte);
        EXPECT_TRUE(back.sameId(&node));
        EXPECT_EQ(back.ip, node.ip);
        EXPECT_EQ(back.port, 4672);
    }
}

TEST(NodeRecord, ShortRecordRaisesAndLeavesTheNode) {
    Node node = makeNode(idOf({1}), "10.0.0.9", 7);
    support::ByteReader reader(support::as_bytes(record(makeNode(idOf({2}), "10.0.0.5", 5)).substr(0, 22)));
    EXPECT_THROW(node.read(reader.file()), i4_err);
    EXPECT_TRUE(node.id.equals(idOf({1})));
    EXPECT_EQ(node.port, 7);
}

TEST(NodeRecord, Text) {
    Node node = makeNode(idOf({0xAB}), "192.0.2.7", 4662, 3);
    OwnedString text;
    EXPECT_STREQ(node.toString(text), "3) 192.0.2.7:4662 (ab000000000000000000000000000000)");
}

// Plain reference: (a xor t) < (b xor t) as a 128-bit big-endian number.
bool xorLess(const UniqueID& t, const UniqueID& a, const UniqueID& b) {
    for (int i = 0; i < 16; i++) {
        int x = a.bytes()[i] ^ t.bytes()[i];
        int y = b.bytes()[i] ^ t.bytes()[i];
        if (x != y) return x < y;
    }
    return false;
}

TEST(XorOrder, AgreesWithPlainComparison) {
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; i++) {
        UniqueID t = randomId(rng), a = randomId(rng), b = randomId(rng);
        // Near misses: share a long prefix now and then.
        if (i % 3 == 0) std::copy(a.bytes(), a.bytes() + 15, b.bytes());
        EXPECT_EQ(isCloser(t, a, b), xorLess(t, a, b));
    }
    UniqueID same = idOf({5});
    EXPECT_FALSE(isCloser(same, same, same));
    Node n;
    EXPECT_FALSE(isCloser(same, nullptr, &n));
    EXPECT_TRUE(isCloser(same, &n, nullptr));
}

TEST(NodeListOps, SortFindUpdateKeep) {
    NodeList list;
    for (uint8_t b : {0x30, 0x01, 0x20, 0x10}) {
        Node n = makeNode(idOf({b}), "10.0.0.1", b);
        list.addCopy(&n);
    }
    list.sortByDistance(UniqueID());  // zero target: ascending ids
    std::vector<int> order;
    for (Node* n : list.nodes()) order.push_back(n->id.bytes()[0]);
    EXPECT_EQ(order, (std::vector<int>{0x01, 0x10, 0x20, 0x30}));
    list.sortByDistance(idOf({0x20}));
    EXPECT_EQ(static_cast<Node*>(list.first())->id.bytes()[0], 0x20);

    Node update = makeNode(idOf({0x10}), "10.9.9.9", 99, 7);
    Node* kept = list.addOrUpdate(&update);
    EXPECT_EQ(list.count(), 4);
    EXPECT_EQ(kept->port, 99);
    EXPECT_EQ(kept->misses, 7);
    EXPECT_EQ(list.findByAddress(ipFromText("10.9.9.9"), 99), kept);
    Node fresh = makeNode(idOf({0x77}), "10.0.0.2", 1);
    Node* front = list.addOrUpdateFront(&fresh);
    EXPECT_EQ(front, list.first());

    EXPECT_TRUE(list.removeByAddress(ipFromText("10.9.9.9"), 99));
    EXPECT_FALSE(list.removeById(&update));
    EXPECT_EQ(list.addCopy(nullptr), nullptr);

    for (int n : {5, 4, 2, 0}) {
        list.keepFirst(n);
        EXPECT_EQ(list.count(), std::min(n, 4));
    }
}

TEST(NodeListOps, KeepFirstOf501) {
    NodeList list;
    for (int i = 0; i < 501; i++) {
        Node n = makeNode(idOf({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}), "10.0.0.1", i);
        list.addCopy(&n);
    }
    list.keepFirst(500);
    EXPECT_EQ(list.count(), 500);
    EXPECT_EQ(static_cast<Node*>(list.at(499))->port, 499);
    list.keepFirst(500);
    EXPECT_EQ(list.count(), 500);
}

class ContactFile : public support::TempDirTest {
protected:
    void fill(NodeList& list, int n) {
        for (int i = 0; i < n; i++) {
            Node node = makeNode(idOf({static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 1}), "10.0.0.1", 1000 + i, i % 7);
            list.addCopy(&node);
        }
    }
    support::CaptureUI ui_;
};

TEST_F(ContactFile, SizesAndRoundTrip) {
    struct Case {
        int nodes, n;
        size_t bytes;
        uint32_t count;
    } cases[] = {{0, 500, 4, 0}, {3, 500, 73, 3}, {700, 500, 11504, 500}};
    for (const Case& c : cases) {
        std::string path = pathOf("contact.dat");
        NodeList list;
        fill(list, c.nodes);
        ASSERT_TRUE(list.save(path.c_str(), c.n));
        std::string bytes = support::read_file(path);
        ASSERT_EQ(bytes.size(), c.bytes);
        EXPECT_EQ(le32At(bytes, 0), c.count);
        NodeList back;
        EXPECT_TRUE(back.load(path.c_str()));
        ASSERT_EQ(back.count(), static_cast<int>(c.count));
        int i = 0;
        for (Node* node : back.nodes()) {
            Node* original = static_cast<Node*>(list.at(i++));
            EXPECT_TRUE(node->sameId(original));
            EXPECT_EQ(node->port, original->port);
            EXPECT_EQ(node->misses, original->misses);
        }
    }
    EXPECT_EQ(ui_.text(), "");
}

TEST_F(ContactFile, MissingFileLoadsNothingQuietly) {
    NodeList list;
    EXPECT_TRUE(list.load(pathOf("contact.dat").c_str()));
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(ui_.text(), "");
}

TEST_F(ContactFile, ShortFilesKeepTheWholeRecordsAndFail) {
    NodeList five;
    fill(five, 5);
    std::string path = pathOf("contact.dat");
    ASSERT_TRUE(five.save(path.c_str(), 5));
    std::string bytes = support::read_file(path);
    struct Case {
        std::string content;
        int loaded;
    } cases[] = {
        {bytes.substr(0, 4 + 2 * 23), 2},       // count 5, two records
        {bytes.substr(0, 4 + 2 * 23 + 10), 2},  // and part of a third
        {bytes.substr(0, 3), 0},                // not even a count
        {"", 0},
        {le32(0xFFFFFFFF) + bytes.substr(4), 5},  // a count far beyond the bytes
    };
    for (const Case& c : cases) {
        writeFile("contact.dat", c.content);
        ui_.clear();
        NodeList list;
        EXPECT_FALSE(list.load(path.c_str()));
        EXPECT_EQ(list.count(), c.loaded);
        EXPECT_EQ(ui_.text(), "error loading NodeList\n");
    }
}

TEST_F(ContactFile, LoneBackupIsRead) {
    NodeList three;
    fill(three, 3);
    ASSERT_TRUE(three.save(pathOf("contact.dat.bak").c_str(), 3));
    NodeList list;
    EXPECT_TRUE(list.load(pathOf("contact.dat").c_str()));
    EXPECT_EQ(list.count(), 3);
}

TEST_F(ContactFile, FailedSaveIsReportedAndKeepsTheOldFile) {
    NodeList three;
    fill(three, 3);
    std::string path = pathOf("contact.dat");
    ASSERT_TRUE(three.save(path.c_str(), 3));
    std::string before = support::read_file(path);
    NodeList list;
    fill(list, 10);
    EXPECT_FALSE(list.save(pathOf("missing/contact.dat").c_str(), 10));
    EXPECT_EQ(ui_.text(), "error saving NodeList\n");
    {
        support::FileSizeLimit limit(50);
        EXPECT_FALSE(list.save(path.c_str(), 10));
    }
    EXPECT_EQ(support::read_file(path), before);
}

}  // namespace

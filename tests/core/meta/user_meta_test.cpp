#include "core/meta/user_meta.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/meta/special_tags.h"
#include "core/meta/user_list.h"
#include "meta_fixture.h"

using namespace support;

namespace {

uint32_t ipOf(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

class UserRecord : public MetaTest {
protected:
    static Bytes bytesOf(std::function<bool(i4_file*)> write) {
        ByteWriter out;
        EXPECT_TRUE(write(out.file()));
        return out.bytes();
    }
    static UserMeta user(uint32_t ip, uint16_t port, uint8_t hashByte) {
        UserMeta meta;
        meta.setIp(ip);
        meta.setPort(port);
        UniqueID hash;
        if (hashByte) hash.bytes()[5] = hashByte;
        meta.setUserHash(hash);
        return meta;
    }
};

TEST_F(UserRecord, FileFormHidesLowIdsAndWireFormKeepsThem) {
    struct Case {
        uint32_t ip;
        bool low;
    } cases[] = {{ipOf(192, 168, 0, 0), true}, {ipOf(192, 168, 0, 5), false}, {0, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ip);
        UserMeta meta = user(c.ip, 4662, 0x42);
        meta.setNickname("nick");
        int32_t version = 1050;
        meta.setSpecial(ST_VERSION, &version);
        meta.setBuddyIp(ipOf(10, 0, 0, 1));
        meta.setBuddyPort(99);
        EXPECT_EQ(c.low, meta.isLowId());
        Bytes tags = bytesOf([&](i4_file* f) { return meta.Meta::toDisk(f); });
        Bytes hash(meta.userHash().bytes(), meta.userHash().bytes() + 16);

        Bytes disk = bytesOf([&](i4_file* f) { return meta.toDisk(f); });
        EXPECT_EQ(cat({le32(c.low ? 0 : c.ip), le16(c.low ? 0 : 4662), hash, tags}), disk);
        Bytes wire = bytesOf([&](i4_file* f) { return meta.toNetwork(f); });
        EXPECT_EQ(cat({hash, le32(c.ip), le16(4662), tags}), wire);
        EXPECT_EQ(int(wire.size()), meta.wireSize());

        UserMeta fromDisk, fromWire;
        ByteReader d(disk), w(wire);
        ASSERT_TRUE(fromDisk.fromDisk(d.file()));
        ASSERT_TRUE(fromWire.fromNetwork(w.file()));
        EXPECT_EQ(c.low ? 0 : c.ip, fromDisk.ip());
        EXPECT_EQ(c.low ? 0 : 4662, fromDisk.port());
        EXPECT_EQ(0u, fromDisk.buddyIp());
        EXPECT_EQ(c.ip, fromWire.ip());
        EXPECT_STREQ("nick", fromWire.nickname());
        EXPECT_EQ(1050, fromWire.getSpecialInt(ST_VERSION));
        EXPECT_TRUE(fromWire.userHash().equals(meta.userHash()));
    }
}

TEST_F(UserRecord, ABadTagListFailsTheRecord) {
    UserMeta meta = user(ipOf(1, 2, 3, 4), 1, 1);
    Bytes wire = bytesOf([&](i4_file* f) { return meta.toNetwork(f); });
    Bytes bad = cat({Bytes(wire.begin(), wire.begin() + 22), le32(1), {9}, le16(1), text("n")});
    for (const Bytes& input : {bad, Bytes(wire.begin(), wire.begin() + 20)}) {
        UserMeta back;
        ByteReader in(input);
        EXPECT_FALSE(back.fromNetwork(in.file()));
        ByteReader disk(input);
        EXPECT_FALSE(back.fromDisk(disk.file()));
    }
}

TEST_F(UserRecord, SameUserByAddressOrHash) {
    uint32_t high = ipOf(80, 1, 2, 3), low = ipOf(0, 0, 1, 0);
    UserMeta a = user(high, 4662, 0), b = user(high, 4662, 0);
    EXPECT_TRUE(a.sameUser(&b));
    EXPECT_FALSE(a.sameUser(nullptr));

    UserMeta c = user(high, 4662, 7), d = user(ipOf(80, 1, 2, 4), 1, 7);
    EXPECT_TRUE(c.sameUser(&d));
    UserMeta e = user(ipOf(80, 1, 2, 4), 1, 0);
    EXPECT_FALSE(a.sameUser(&e));  // zero hashes never match

    UserMeta f = user(low, 4662, 0), g = user(low, 4662, 0);
    f.setBuddyIp(high);
    g.setBuddyIp(high);
    f.setBuddyPort(1);
    g.setBuddyPort(2);
    EXPECT_FALSE(f.sameUser(&g));
    g.setBuddyPort(1);
    EXPECT_TRUE(f.sameUser(&g));
    UserMeta h = user(low, 4662, 3), i = user(low, 4662, 3);
    h.setBuddyPort(5);
    EXPECT_TRUE(h.sameUser(&i));
}

TEST_F(UserRecord, AssignmentCopiesEverythingAndSurvivesSelfAssignment) {
    UserMeta meta = user(ipOf(9, 9, 9, 9), 12, 4);
    meta.setNickname("me");
    meta.setBuddyIp(3);
    meta.setBuddyPort(4);
    meta.setHelloVerified(1);
    meta.setFriendState(2);
    UserMeta& alias = meta;
    meta = alias;
    meta.assign(&meta);
    meta.assign(nullptr);
    UserMeta copy(meta);
    EXPECT_STREQ("me", copy.nickname());
    EXPECT_EQ(meta.ip(), copy.ip());
    EXPECT_EQ(3u, copy.buddyIp());
    EXPECT_EQ(4, copy.buddyPort());
    EXPECT_EQ(1, copy.helloVerified());
    EXPECT_EQ(2, copy.friendState());
    EXPECT_TRUE(copy.userHash().equals(meta.userHash()));
    EXPECT_STREQ("me", meta.nickname());

    UserMeta nameless;
    EXPECT_STREQ("????", nameless.nickname());
    EXPECT_EQ(1, nameless.tagCount());
}

TEST_F(UserRecord, ListsMakeUserRecords) {
    UserList list;
    auto* one = new UserMeta(user(ipOf(5, 6, 7, 8), 10, 1));
    list.add(one);
    ByteWriter out;
    ASSERT_TRUE(list.toDisk(out.file()));
    UserList back;
    ByteReader in(out.bytes());
    ASSERT_TRUE(back.fromDisk(in.file()));
    auto* read = dynamic_cast<UserMeta*>(back.at(0));
    ASSERT_NE(nullptr, read);
    EXPECT_EQ(ipOf(5, 6, 7, 8), read->ip());
    back.clear();
    list.clear();
}

TEST_F(UserRecord, ListCopiesKeepAddressesAndHash) {
    UserList list;
    auto* one = new UserMeta(user(ipOf(5, 6, 7, 8), 10, 1));
    one->setBuddyIp(ipOf(9, 9, 9, 9));
    one->setBuddyPort(77);
    list.add(one);
    UserList copy;
    copy.copyFrom(&list);
    auto* read = dynamic_cast<UserMeta*>(copy.at(0));
    ASSERT_NE(nullptr, read);
    EXPECT_NE(one, read);
    EXPECT_EQ(ipOf(5, 6, 7, 8), read->ip());
    EXPECT_EQ(10, read->port());
    EXPECT_EQ(ipOf(9, 9, 9, 9), read->buddyIp());
    EXPECT_EQ(77, read->buddyPort());
    EXPECT_TRUE(read->userHash().equals(one->userHash()));
    EXPECT_STREQ(one->nickname(), read->nickname());
    copy.clear();
    list.clear();
}

}  // namespace

// Source links: the location forms, the bare form of a file link's "s=",
// and everything that must not become a source.
#include <gtest/gtest.h>

#include <string>

#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "downloads/source_link.h"
#include "support/process_objects.h"
#include "v4ada/memory/malloc4.h"

namespace {

class SourceLinkTest : public ::testing::Test {
protected:
    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
};

TEST_F(SourceLinkTest, MatchScheme) {
    EXPECT_EQ(matchScheme("bcp", "bcp://1.2.3.4:5"), 5);
    EXPECT_EQ(matchScheme("bcp", "bcp:x"), 5);
    EXPECT_EQ(matchScheme("bcp", "bcpx://"), 0);
    EXPECT_EQ(matchScheme("bcp", "BCP://"), 0);
    EXPECT_EQ(matchScheme("bcp", "bc"), 0);
    EXPECT_EQ(matchScheme("bcp", nullptr), 0);
}

TEST_F(SourceLinkTest, Forms) {
    const std::string hash = "00112233445566778899aabbccddeeff";
    struct Case {
        std::string text;
        bool ok;
        const char* ip;  // address, or the buddy's for the user-hash form
        uint16_t port;
        bool withHash;
    };
    const Case cases[] = {
        {"bcp://192.0.2.7:4662", true, "192.0.2.7", 4662, false},
        {"192.0.2.7:4662", true, "192.0.2.7", 4662, false},
        {"bcp://" + hash + ":10.1.2.3:4672", true, "10.1.2.3", 4672, true},
        {"bcp://192.0.2.7:65535", true, "192.0.2.7", 65535, false},
        {"bcp://192.0.2.7:65536", false, nullptr, 0, false},
        {"bcp://192.0.2.7:0", false, nullptr, 0, false},
        {"bcp://192.0.2.7:-1", false, nullptr, 0, false},
        {"bcp://192.0.2.7:46x2", false, nullptr, 0, false},
        {"bcp://192.0.2.7", false, nullptr, 0, false},
        {"bcp://192.0.2.7:4662:", false, nullptr, 0, false},
        {"bcp://192.0.2.7::4662", false, nullptr, 0, false},
        {"bcp://0.0.0.0:4662", false, nullptr, 0, false},
        {"bcp://192.0.2:4662", false, nullptr, 0, false},
        {"bcp://192.0.2.7\n:4662", false, nullptr, 0, false},
        {"bcp:192.0.2.7:4662", false, nullptr, 0, false},
        {"bcp://" + hash.substr(1) + ":10.1.2.3:4672", false, nullptr, 0, false},
        {"bcp://" + hash + "0:10.1.2.3:4672", false, nullptr, 0, false},
        {"bcp://" + hash + ":10.1.2.3:4672:1", false, nullptr, 0, false},
        // The user-hash form only as a location link.
        {hash + ":10.1.2.3:4672", false, nullptr, 0, false},
        {"http://192.0.2.7:80/file", false, nullptr, 0, false},
        {"", false, nullptr, 0, false},
        {std::string(2000, '1'), false, nullptr, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        UserMeta user;
        user.setPort(1);
        ASSERT_EQ(parseSourceLinkText(c.text.c_str(), user), c.ok);
        if (!c.ok) {
            EXPECT_EQ(user.port(), 1) << "a refused link leaves the record as it was";
            continue;
        }
        if (c.withHash) {
            char* text = user.userHash().toHex();
            EXPECT_EQ(std::string(text), hash);
            i4_free(text);
            EXPECT_EQ(user.ip(), 0u) << "a low-ID user";
            EXPECT_EQ(user.buddyIp(), ipFromText(c.ip));
            EXPECT_EQ(user.buddyPort(), c.port);
        } else {
            EXPECT_TRUE(user.userHash().isZero());
            EXPECT_EQ(user.ip(), ipFromText(c.ip));
            EXPECT_EQ(user.port(), c.port);
        }
    }
    UserMeta none;
    EXPECT_FALSE(parseSourceLinkText(nullptr, none));
}

}  // namespace

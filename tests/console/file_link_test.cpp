// File links: what dllink posts for a link and in which order, every
// refusal with its text and nothing posted, the sizes taken, the part
// hashes of "p=", and a link fetched from an HTTP server on 127.0.0.1.
#include "console/cli/file_link.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "console/cli/result_link_commands.h"
#include "core/bus/message_codes.h"
#include "core/bus/source_records.h"
#include "core/meta/special_tags.h"
#include "support/bus_recorder.h"
#include "support/bytes.h"
#include "support/loopback_peers.h"
#include "support/process_objects.h"
#include "support/ui_capture.h"
#include "v4ada/digest/md4.h"
#include "v4ada/digest/part_hash.h"
#include "v4ada/threads/linux/threads.h"

namespace {

using Lines = std::vector<std::string>;

constexpr const char* kHash = "0123456789abcdef0123456789abcdef";

class FileLinks : public ::testing::Test {
protected:
    void TearDown() override {
        for (Message& m : bus_.take()) freeData(m);
    }
    // Runs the command on the line: what it printed and the codes it
    // posted (the messages are kept in posted_).
    Lines run(const std::string& line) {
        std::string copy = line;
        Lines printed = ui_.printedDuring([&] {
            dllink_command(copy.data());
            // A fetch runs on a thread of its own.
            threads_wait_all();
        });
        for (Message& m : posted_) freeData(m);
        posted_ = bus_.take();
        return printed;
    }
    std::vector<int> codes() const {
        std::vector<int> out;
        for (const Message& m : posted_) out.push_back(m.code);
        return out;
    }
    FileMeta* file() const { return static_cast<FileMeta*>(posted_.at(0).data); }
    std::string source(size_t i) const {
        return static_cast<SourceLinkRecord*>(posted_.at(i).data)->link.c_str();
    }
    static void freeData(Message& m) {
        if (m.code == MSG_START_DOWNLOAD) delete static_cast<FileMeta*>(m.data);
        if (m.code == MSG_ADD_SOURCE_LINK) delete static_cast<SourceLinkRecord*>(m.data);
    }
    void TearDownPosted() {
        for (Message& m : posted_) freeData(m);
        posted_.clear();
    }

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
    support::CaptureUI ui_;
    support::BusRecorder bus_;
    std::vector<Message> posted_;
};

TEST_F(FileLinks, FileLinkPostsTheDownloadThenItsSourcesInOrder) {
    EXPECT_TRUE(run(std::string("dllink vxt4://|file|my%20file.txt|1000|") + kHash + "|").empty());
    ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD}));
    EXPECT_STREQ(file()->name(), "my file.txt");
    EXPECT_EQ(file()->size(), 1000u);
    EXPECT_EQ(support::hex_text(file()->fileHash()), kHash);

    run(std::string("dllink vxt4://|file|a+b.bin|1000|") + kHash + "|s=1.2.3.4:4662|x=ignored|s=http://h/a|");
    ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD, MSG_ADD_SOURCE_LINK, MSG_ADD_SOURCE_LINK}));
    EXPECT_STREQ(file()->name(), "a b.bin");
    EXPECT_EQ(source(1), "1.2.3.4:4662");
    EXPECT_EQ(source(2), "http://h/a");
    for (size_t i = 1; i < 3; i++)
        EXPECT_EQ(support::hex_text(static_cast<SourceLinkRecord*>(posted_[i].data)->hash), kHash);
    TearDownPosted();
}

TEST_F(FileLinks, RefusedLinksSayWhyAndPostNothing) {
    const std::string h = kHash;
    struct Case {
        std::string line;
        Lines printed;
    } cases[] = {
        {"dllink", {}},
        {"dllink abc", {"This is not a valid vxt4-link."}},
        {"dllink vxt4://|", {"This is not a valid vxt4-link."}},
        {"dllink vxt4://|zip|a|1|" + h + "|", {"This is not a valid vxt4-link."}},
        {"dllink vxt4://|file|", {"This is not a valid vxt4-link."}},
        {"dllink vxt4://|file|a|1000|", {}},
        {"dllink vxt4://|file|a|1000", {}},
        {"dllink vxt4://|file|a|1000|" + h.substr(1) + "|", {"Invalid hash in vxt4-link."}},
        {"dllink vxt4://|file|a|1000|" + h + "0|", {"Invalid hash in vxt4-link."}},
        {"dllink vxt4://|file|a|1000|" + h.substr(1) + "g|", {"Invalid hash in vxt4-link."}},
        {"dllink vxt4://|file|%00|1000|" + h + "|", {"This is not a valid vxt4-link."}},
        {"dllink vxt4://|server|", {"Invalid arguments"}},
        {"dllink vxt4://|server|0.0.0.0|", {"Invalid arguments"}},
        {"dllink vxt4://|server|10.0.0.1|0|", {"Invalid arguments"}},
        {"dllink vxt4://|server|10.0.0.1|70000|", {"Invalid arguments"}},
        // The overlay takes no servers: nothing is said.
        {"dllink vxt4://|server|10.0.0.1|", {}},
        {"dllink vxt4://|server|10.0.0.1|4242|", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.line), c.printed) << c.line;
        EXPECT_TRUE(posted_.empty()) << c.line;
    }
    // The size must be a whole number of 1 to 4,294,967,295 bytes.
    for (const char* size : {"0", "0.9", "-5", "abc", "nan", "inf", "4294967296", "4294968296", "1e12"}) {
        EXPECT_EQ(run("dllink vxt4://|file|a|" + std::string(size) + "|" + h + "|"),
                  (Lines{"Invalid vxt4-link with 0 size."}))
            << size;
        EXPECT_TRUE(posted_.empty()) << size;
    }
}

TEST_F(FileLinks, SizesAreWholeBytesBelowFourGiB) {
    struct Case {
        const char* text;
        uint32_t size;
    } cases[] = {{"1", 1}, {"1000.9", 1000}, {"1e3", 1000}, {"4294967295", 4294967295u}, {" 77", 77}};
    for (const Case& c : cases) {
        uint32_t size = 0;
        EXPECT_TRUE(linkSize(c.text, &size)) << c.text;
        EXPECT_EQ(size, c.size) << c.text;
    }
}

TEST_F(FileLinks, LongFieldsAreCutWithoutShiftingTheNextOnes) {
    std::string name(3000, 'n');
    run("dllink vxt4://|file|" + name + "|1000|" + kHash + "|");
    ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD}));
    EXPECT_EQ(file()->size(), 1000u);
    EXPECT_EQ(support::hex_text(file()->fileHash()), kHash);
    TearDownPosted();
}

TEST_F(FileLinks, PartHashesAreTakenWhenTheyGiveTheFileHash) {
    // Two parts: the file hash is the MD4 of both part hashes.
    UniqueID first;
    UniqueID second;
    md4String(first.bytes(), "part one");
    md4String(second.bytes(), "part two");
    Md4Context md4;
    md4.update(first.bytes(), kUniqueIdSize);
    md4.update(second.bytes(), kUniqueIdSize);
    UniqueID whole;
    md4.final(whole.bytes());
    const std::string size = std::to_string(kPartSize + 1);
    const std::string head = "dllink vxt4://|file|two.bin|" + size + "|" + support::hex_text(whole) + "|";

    run(head + "p=" + support::hex_text(first) + ":" + support::hex_text(second) + ":end|");
    ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD}));
    ASSERT_TRUE(file()->partHashesComplete());
    UniqueID stored;
    stored.copy(file()->partHash(1));
    EXPECT_EQ(support::hex_text(stored), support::hex_text(second));

    for (std::string parts : {support::hex_text(second) + ":" + support::hex_text(first), support::hex_text(first), support::hex_text(first) + ":x:" + support::hex_text(second)}) {
        run(head + "p=" + parts + "|");
        ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD})) << parts;
        EXPECT_FALSE(file()->partHashesComplete()) << parts;
    }
    TearDownPosted();
}

const std::string kRequest = "GET /link.txt HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

TEST_F(FileLinks, FetchFormRunsTheLinkTheServerHolds) {
    support::ScriptedPeer server(
        {support::ScriptedPeer::expect(kRequest),
         support::ScriptedPeer::send(std::string("HTTP/1.0 200 OK\r\n\r\nvxt4://|file|net.bin|2000|") + kHash +
                                     "|s=5.6.7.8:4662|\r\n"),
         support::ScriptedPeer::close()},
        false);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/link.txt";
    EXPECT_TRUE(run("dllink vxt4://|f=" + url + "|").empty());
    EXPECT_EQ(server.finish(), "");
    ASSERT_EQ(codes(), (std::vector<int>{MSG_START_DOWNLOAD, MSG_ADD_SOURCE_LINK}));
    EXPECT_STREQ(file()->name(), "net.bin");
    EXPECT_EQ(source(1), "5.6.7.8:4662");

    // A failed fetch leaves the typed line, which is no file link.
    support::ScriptedPeer missing({support::ScriptedPeer::expect(kRequest),
                                   support::ScriptedPeer::send("HTTP/1.0 404 Not Found\r\n\r\n"),
                                   support::ScriptedPeer::close()},
                                  false);
    const std::string gone = "http://127.0.0.1:" + std::to_string(missing.port()) + "/link.txt";
    EXPECT_EQ(run("dllink vxt4://|f=" + gone), (Lines{"This is not a valid vxt4-link."}));
    EXPECT_EQ(missing.finish(), "");
    EXPECT_TRUE(posted_.empty());
}

TEST(LinkTokens, FieldsRunsOfDelimitersAndCuts) {
    LinkTokens tokens("dllink  a||bcdef|g");
    std::string token;
    ASSERT_TRUE(tokens.next(" ", 10, token));
    EXPECT_EQ(token, "dllink");
    ASSERT_TRUE(tokens.next("|", 10, token));
    EXPECT_EQ(token, "  a");
    ASSERT_TRUE(tokens.next("|", 3, token));
    EXPECT_EQ(token, "bcd");
    ASSERT_TRUE(tokens.next("|", 3, token));
    EXPECT_EQ(token, "g");
    EXPECT_FALSE(tokens.next("|", 3, token));
    EXPECT_EQ(fetchUrlOf("dllink vxt4://|f=http://h/x|y"), "http://h/x");
    EXPECT_EQ(fetchUrlOf("dllink vxt4://|f="), "");
    EXPECT_EQ(fetchedLinkLine("vxt4://|file|\r\n \n"), "dllink vxt4://|file|");
}

}  // namespace

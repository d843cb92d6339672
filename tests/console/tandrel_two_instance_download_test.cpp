// Two tandrel processes on 127.0.0.1 pass a file of two parts through
// typed commands alone: A shares it, B downloads it from a file link that
// names A as its source, or from a link without one after adds names A.
#include <gtest/gtest.h>

#include <string>

#include "console/tandrel_swarm_fixture.h"
#include "support/bytes.h"
#include "support/files.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/part_hash.h"

namespace {

// The whole transfer of about 10 MB, on a busy machine under sanitizers.
constexpr int kDownloadMs = 180000;
constexpr int kWaitMs = TandrelSwarm::kAskMs;
constexpr int kStepMs = 200;
// Just over one part: the file has two.
constexpr size_t kFileSize = kPartSize + 250000;
constexpr const char* kName = "two parts.bin";
constexpr int kA = 0;
constexpr int kB = 1;

class TandrelTwoInstances : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(swarm_.add(), kA);
        ASSERT_EQ(swarm_.add(), kB);
        const std::string shared = dirOf(kA) + "/shared";
        bytes_.resize(kFileSize);
        for (size_t i = 0; i < kFileSize; i++) bytes_[i] = static_cast<char>((i * 13 + i / 9973) % 251);
        ASSERT_TRUE(support::write_file(shared + "/" + kName, bytes_));
        ASSERT_TRUE(support::write_file(dirOf(kA) + "/share.dat", support::counted_text(shared)));
        UniqueID hash;
        ASSERT_TRUE(hashFileParts(hash.bytes(), (shared + "/" + kName).c_str(), kPartSizeKiB, nullptr));
        link_ = "dllink vxt4://|file|two%20parts.bin|" + std::to_string(kFileSize) + "|" + support::hex_text(hash) +
                "|";
        ASSERT_TRUE(swarm_.start(kA));
        ASSERT_TRUE(wait_for_shares_loaded(*swarm_.node(kA).process, kWaitMs)) << swarm_.tails();
        ASSERT_TRUE(swarm_.start(kB));
    }
    const std::string& dirOf(int node) { return swarm_.node(node).dir; }
    std::string door() { return std::to_string(swarm_.node(kA).doorPort); }
    // Waits until the node's log.txt holds the text.
    bool logged(int node, const std::string& text, int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += kStepMs) {
            if (support::read_file(dirOf(node) + "/log.txt").find(text) != std::string::npos) return true;
            swarm_.node(node).process->waitFor("\x01never\x01", kStepMs);
            swarm_.pump();
        }
        return false;
    }
    // B lists the download meanwhile and logs its end; its incoming file
    // is A's byte for byte, and A logged the upload.
    void expectDownloaded() {
        ASSERT_TRUE(swarm_.poll(kB, "vd", "(1) two parts.bin:", kWaitMs)) << swarm_.tails();
        ASSERT_TRUE(logged(kB, "End Download: two parts.bin", kDownloadMs))
            << swarm_.tails() << support::read_file(dirOf(kB) + "/log.txt");
        EXPECT_TRUE(support::read_file(dirOf(kB) + "/incoming/two parts.bin") == bytes_);
        EXPECT_TRUE(logged(kA, "Start Upload: two parts.bin", 0));
        // The last upload ends once B lets its slot go.
        EXPECT_TRUE(logged(kA, "End Upload: two parts.bin", kWaitMs)) << support::read_file(dirOf(kA) + "/log.txt");
        EXPECT_TRUE(swarm_.quit(kB)) << swarm_.tails();
        EXPECT_TRUE(swarm_.quit(kA)) << swarm_.tails();
    }

    TandrelSwarm swarm_;
    std::string bytes_;
    std::string link_;
};

TEST_F(TandrelTwoInstances, LinkWithTheSourceBringsTheFile) {
    ASSERT_TRUE(swarm_.ask(kB, link_ + "s=bcp://127.0.0.1:" + door() + "|", "Downloading: two parts.bin"))
        << swarm_.tails();
    expectDownloaded();
}

TEST_F(TandrelTwoInstances, SourceAddedByAddress) {
    ASSERT_TRUE(swarm_.ask(kB, link_, "Downloading: two parts.bin")) << swarm_.tails();
    ASSERT_TRUE(swarm_.ask(kB, "adds 1 127.0.0.1 " + door(), "Adding: 127.0.0.1:" + door() + " to two parts.bin"))
        << swarm_.tails();
    expectDownloaded();
}

}  // namespace

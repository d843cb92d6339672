// Two tandrel processes on 127.0.0.1 pass a file of two parts through
// typed commands alone: A shares it, B downloads it from a file link that
// names A as its source, or from a link without one after adds names A.
#include <gtest/gtest.h>

#include <string>

#include "console/tandrel_process_fixture.h"
#include "support/bytes.h"
#include "support/files.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/part_hash.h"

namespace {

// The whole transfer of about 10 MB, on a busy machine under sanitizers.
constexpr int kDownloadMs = 120000;
// Just over one part: the file has two.
constexpr size_t kFileSize = kPartSize + 250000;
constexpr const char* kName = "two parts.bin";

class TandrelTwoInstances : public TandrelPairTest {
protected:
    void SetUp() override {
        TandrelPairTest::SetUp();
        const std::string shared = dir_ + "/shared";
        bytes_.resize(kFileSize);
        for (size_t i = 0; i < kFileSize; i++) bytes_[i] = static_cast<char>((i * 13 + i / 9973) % 251);
        ASSERT_TRUE(support::write_file(shared + "/" + kName, bytes_));
        ASSERT_TRUE(support::write_file(dir_ + "/share.dat", support::counted_text(shared)));
        UniqueID hash;
        ASSERT_TRUE(hashFileParts(hash.bytes(), (shared + "/" + kName).c_str(), kPartSizeKiB, nullptr));
        link_ = "dllink vxt4://|file|two%20parts.bin|" + std::to_string(kFileSize) + "|" + support::hex_text(hash) + "|";
        ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
        ASSERT_TRUE(wait_for_shares_loaded(process_, kWaitMs)) << process_.raw();
        ASSERT_TRUE(other_.start(otherDir_, {}, TandrelProcess::Mode::kPipes));
    }
    // B shows the download in its listing, then logs its end; its
    // incoming file is A's file byte for byte, and A logged the upload.
    void expectDownloaded() {
        ASSERT_TRUE(poll(other_, "vd", "(1) two parts.bin:", 0)) << other_.out();
        bool ended = false;
        for (int tries = 0; tries < kDownloadMs / kPollMs && !ended; tries++) {
            ended = support::read_file(otherDir_ + "/log.txt").find("End Download: two parts.bin") !=
                    std::string::npos;
            if (!ended) other_.waitFor("\x01", kPollMs);
        }
        ASSERT_TRUE(ended) << other_.out() << support::read_file(otherDir_ + "/log.txt");
        EXPECT_TRUE(support::read_file(otherDir_ + "/incoming/two parts.bin") == bytes_);
        const std::string logA = support::read_file(dir_ + "/log.txt");
        EXPECT_NE(logA.find("Start Upload: two parts.bin"), std::string::npos) << logA;
        // The upload ends once B lets its slot go.
        bool uploadEnded = false;
        for (int tries = 0; tries < kWaitMs / kPollMs && !uploadEnded; tries++) {
            uploadEnded = support::read_file(dir_ + "/log.txt").find("End Upload: two parts.bin") !=
                          std::string::npos;
            if (!uploadEnded) process_.waitFor("\x01", kPollMs);
        }
        EXPECT_TRUE(uploadEnded) << support::read_file(dir_ + "/log.txt");
        quit(other_);
        quit(process_);
    }

    std::string bytes_;
    std::string link_;
};

TEST_F(TandrelTwoInstances, LinkWithTheSourceBringsTheFile) {
    other_.write(link_ + "s=bcp://127.0.0.1:" + std::to_string(doorLease_.port()) + "|\n");
    expectDownloaded();
}

TEST_F(TandrelTwoInstances, SourceAddedByAddress) {
    ASSERT_TRUE(type(other_, link_, "> ", 0));
    ASSERT_TRUE(poll(other_, "vd", "(1) two parts.bin:", 0)) << other_.out();
    ASSERT_TRUE(type(other_, "adds 1 127.0.0.1 " + std::to_string(doorLease_.port()),
                     "Adding: 127.0.0.1:" + std::to_string(doorLease_.port()) + " to two parts.bin", 0))
        << other_.out();
    expectDownloaded();
}

}  // namespace

#include "transfer/uploads/part_reader.h"

#include <gtest/gtest.h>

#include "downloads/storage/partial_file.h"
#include "support/bytes.h"
#include "support/download_world.h"
#include "support/part_digests.h"

namespace {

using namespace support;

// An upload of a partial file hears what the file answers: its bytes where
// they are all there, otherwise why not, by the file's state.
TEST(PartialFileReader, AnswersFollowTheFilesReadAndState) {
    DownloadWorld world;
    Bytes data = pattern_bytes(20000, 3);
    Download* d = world.start(data, "r.bin");
    ASSERT_NE(d, nullptr);
    world.feeder(d);
    world.step(0);
    ASSERT_TRUE(world.feed(d, data, 0, 10000));
    world.settle();
    PartialFile* file = d->partialFile();
    ASSERT_NE(file, nullptr);
    PartialFileReader reader(file);

    Bytes back(10000);
    EXPECT_EQ(reader.read(back.data(), 0, 10000), PartReader::kReadDone);
    EXPECT_EQ(back, Bytes(data.begin(), data.begin() + 10000));
    EXPECT_EQ(reader.read(back.data(), 5000, 15000), PartReader::kUnavailable);
    EXPECT_EQ(reader.read(back.data(), 10, 10), PartReader::kUnavailable);

    const struct {
        int state;
        int answer;
    } cases[] = {
        {PartialFile::kFinishing, PartReader::kFinishing},
        {PartialFile::kCompleted, PartReader::kCompleted},
        {PartialFile::kFailed, PartReader::kFailed},
        {PartialFile::kActive, PartReader::kReadDone},
    };
    for (const auto& c : cases) {
        file->setState(c.state);
        EXPECT_EQ(reader.state(), c.state);
        EXPECT_EQ(reader.read(back.data(), 0, 10000), c.answer) << "state " << c.state;
    }
}

}  // namespace

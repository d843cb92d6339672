// The storage threads at work together: checks and saves on the worker's
// threads, writes and applied results on the test's thread (the task
// thread), uploads reading from another, status readers from a third.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "downloads/storage/comp_partial_file.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/partial_file_fixture.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/safe_file.h"

namespace storage_test {
namespace {

constexpr uint64_t kPart = 9728000;
constexpr uint64_t kCrumb = 486400;

class StorageThreads : public PartialFileTest {
protected:
    void SetUp() override {
        PartialFileTest::SetUp();
        worker = std::make_unique<StorageWorker>(3);
        downloadServices().storage = worker.get();
    }

    void runTogether(PartialFile* file, const Bytes& data) {
        ASSERT_TRUE(file->create(record(data, "mt.bin").get()));
        std::atomic<bool> done{false};
        std::atomic<int> served{0};
        std::thread uploads([&] {
            std::mt19937 random(5);
            Bytes buffer(100000);
            while (!done.load()) {
                uint64_t start = random() % (data.size() - buffer.size());
                ReadResult answer = file->read(buffer.data(), start, start + buffer.size());
                if (answer == ReadResult::kDone) {
                    served++;
                    ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), data.begin() + long(start)));
                } else {
                    ASSERT_EQ(answer, ReadResult::kUnavailable);
                }
            }
        });
        std::thread status([&] {
            BoolArray map;
            while (!done.load()) {
                file->crumbMap(map);
                (void)file->bytesDone();
                (void)file->nothingMissing();
                (void)file->needsFrom(&map);
            }
        });
        std::vector<uint64_t> starts;
        for (uint64_t at = 0; at < data.size(); at += 150000) starts.push_back(at);
        std::shuffle(starts.begin(), starts.end(), std::mt19937(9));
        int n = 0;
        for (uint64_t start : starts) {
            put(file, data, start, std::min<uint64_t>(start + 150000, data.size()));
            file->applyResults();
            if (++n % 10 == 0) file->save();
        }
        while (!file->nothingMissing()) {
            worker->waitIdle();
            file->applyResults();
        }
        file->save();
        worker->waitIdle();
        done = true;
        uploads.join();
        status.join();
        EXPECT_GT(served.load(), 0);
        file->setState(PartialFile::kFinishing);
        EXPECT_EQ(file->complete(), CompleteResult::kComplete);
        EXPECT_EQ(read_bytes(settings.incoming + "/mt.bin"), data);
    }
};

TEST_F(StorageThreads, SingleFileWithChecksSavesAndUploadsAtOnce) {
    Held<PartialFile> file(new PartialFile(&owner));
    runTogether(file.get(), pattern_bytes(kPart + 3 * kCrumb + 11, 1));
}

TEST_F(StorageThreads, PartDirectoryWithChecksSavesAndUploadsAtOnce) {
    Held<CompPartialFile> file(new CompPartialFile(&owner));
    runTogether(file.get(), pattern_bytes(kPart + 3 * kCrumb + 11, 2));
}

// A resumed download is verified on the hashing thread while the task
// thread already writes and applies results.
TEST_F(StorageThreads, VerifyOnTheHashingThreadBesideWrites) {
    Bytes data = pattern_bytes(kPart + 3 * kCrumb + 11, 3);
    std::string met;
    {
        Held<CompPartialFile> file(new CompPartialFile(&owner));
        ASSERT_TRUE(file->create(record(data, "v.bin").get()));
        put(file.get(), data, 0, kPart);
        ASSERT_TRUE(file->save(true));
        met = file->metPath().c_str();
        worker->waitIdle();
        file->close();
    }
    i4_safe_file in(met.c_str(), kFsRead);
    FileMeta meta;
    uint8_t version = 0;
    OwnedString reason;
    ASSERT_TRUE(decodePartMet(in.file(), &version, meta, reason));
    meta.setPath(met.c_str());
    TestOwner second;
    Held<CompPartialFile> file(new CompPartialFile(&second));
    ASSERT_TRUE(file->load(&meta, 1));
    bool verified = false;
    std::thread hashing([&] { verified = file->verify(); });
    for (uint64_t at = kPart; at < data.size(); at += 100000) {
        put(file.get(), data, at, std::min<uint64_t>(at + 100000, data.size()));
        file->applyResults();
    }
    hashing.join();
    EXPECT_TRUE(verified);
    while (!file->nothingMissing()) {
        worker->waitIdle();
        file->applyResults();
    }
    BoolArray parts;
    file->partMap(parts);
    EXPECT_TRUE(parts.allEqual(true));
}

}  // namespace
}  // namespace storage_test

// Downloads across threads: completion workers ending while the task
// thread ends their downloads, the hashing thread's verdict arriving from
// its own thread, and status reads while the task thread works.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "core/options/core_options.h"
#include "downloads/loaded_parts_verifier.h"
#include "downloads/pool/download_state.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/part_digests.h"

namespace {

using namespace support;

TEST(DownloadThreads, CompletionsEndWhileThePoolEndsTheirDownloads) {
    DownloadWorld world(2);
    coreOptions()->setPartStyle(true);
    std::vector<Bytes> files;
    std::vector<Download*> downloads;
    for (uint32_t i = 0; i < 6; i++) {
        files.push_back(pattern_bytes(486401 + i * 1000, 100 + i));
        std::string name = "c" + std::to_string(i) + ".bin";
        downloads.push_back(world.start(files.back(), name.c_str()));
        world.feeder(downloads.back());
        // The world lets go early: the last reference is the worker's or
        // the pool's, whichever ends later.
        world.drop(downloads.back());
    }
    world.step(0);
    for (size_t i = 0; i < downloads.size(); i++) world.feed(downloads[i], files[i], 0, files[i].size());
    // The task thread goes on while the workers check and move the files.
    for (int round = 0; round < 2000 && world.pool->downloadCount() > 0; round++) {
        world.worker->waitIdle();
        world.step(1);
    }
    world.completions();
    world.step(0);
    EXPECT_EQ(world.pool->downloadCount(), 0);
    for (size_t i = 0; i < files.size(); i++) {
        std::string name = world.incoming + "/c" + std::to_string(i) + ".bin";
        EXPECT_EQ(read_bytes(name), files[i]) << name;
    }
}

// A verifier with a thread of its own, as the hashing thread is.
class ThreadedVerifier final : public LoadedPartsVerifier {
public:
    ~ThreadedVerifier() {
        for (std::thread& thread : threads) thread.join();
    }
    void queueFinished(LoadedParts* parts) override {
        threads.emplace_back([parts]() {
            parts->hashDone(parts->verify());
            parts->release();
        });
    }
    void join() {
        for (std::thread& thread : threads) thread.join();
        threads.clear();
    }
    std::vector<std::thread> threads;
};

TEST(DownloadThreads, HashDoneFromTheHashingThreadIsAppliedOnTheTaskThread) {
    DownloadWorld world;
    coreOptions()->setPartStyle(true);
    Bytes data = pattern_bytes(3 * 486400, 7);
    Download* first = world.start(data, "v.bin");
    world.feeder(first);
    world.step(0);
    world.feed(first, data, 0, 600000);
    world.settle();
    world.pool->shutdown();

    ThreadedVerifier verifier;
    setLoadedPartsVerifier(&verifier);
    world.pool->loadPartials(world.temp.c_str());
    // The task thread ticks while the verdict comes.
    for (int i = 0; i < 50; i++) world.step(1);
    verifier.join();
    setLoadedPartsVerifier(nullptr);
    world.step(1);
    Download* d = world.pool->findDownload(first->fileHash());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->statusCode(), kDlsLooking);
    d->release();
}

TEST(DownloadThreads, StatusReadsWhileTheTaskThreadWorks) {
    DownloadWorld world;
    Bytes data = pattern_bytes(2 * 486400, 9);
    Download* d = world.start(data, "busy.bin");
    world.feeder(d);
    std::atomic<bool> stop{false};
    std::set<int> seen;
    std::thread reader([&]() {
        while (!stop.load()) seen.insert(d->statusCode());
    });
    world.step(0);
    world.feed(d, data, 0, data.size());
    world.settle();
    world.completions();
    world.step(0);
    stop.store(true);
    reader.join();
    for (int code : seen) EXPECT_TRUE(code == 0 || (code >= kDlsQueued && code <= kDlsErrorHashing)) << code;
    EXPECT_EQ(d->statusCode(), kDlsComplete);
}

TEST(DownloadThreads, StatusCodeGivesUpWhileAnotherThreadHoldsTheLock) {
    DownloadWorld world;
    Download* d = world.start(pattern_bytes(1000, 11), "held.bin");
    std::promise<void> taken;
    std::promise<void> done;
    std::thread holder([&]() {
        d->lock(0);
        taken.set_value();
        done.get_future().wait();
        d->unlock();
    });
    taken.get_future().wait();
    EXPECT_EQ(d->statusCode(), 0);
    done.set_value();
    holder.join();
    EXPECT_EQ(d->statusCode(), kDlsLooking);
}

}  // namespace

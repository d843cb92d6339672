// The hashing thread on a thread of its own while the test's thread plays
// the task thread: it takes the batches, refreshes, changes the shared
// directories, counts uploads on known records and saves the lists.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/meta/file_meta.h"
#include "core/meta/meta_tag.h"
#include "support/bus_recorder.h"
#include "support/files.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "transfer/sharing/hash_thread.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/sharing/share_list.h"
#include "transfer/sharing/shared_file_batch.h"
#include "v4ada/digest/md4.h"
#include "v4ada/file/fs.h"
#include "v4ada/threads/linux/threads.h"

namespace {

class UnpausedHashThread : public HashThread {
public:
    using HashThread::HashThread;
    ~UnpausedHashThread() override { finishBody(); }

protected:
    void pause(int) override {}
};

class CountingParts final : public LoadedParts {
public:
    explicit CountingParts(std::atomic<int>* done) : done_(done) {}
    bool verify() override { return true; }
    void hashDone(bool) override { done_->fetch_add(1); }
    void release() override { delete this; }

private:
    std::atomic<int>* done_;
};

}  // namespace

TEST(HashThreadThreads, RunsWhileTheTaskThreadChangesSharesAndKnownFiles) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    support::TempDir dir;
    ASSERT_TRUE(dir.ok());
    support::CaptureUI output;
    support::BusRecorder bus;
    std::string a = dir / "a";
    std::string b = dir / "b";
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; i++) {
        ASSERT_TRUE(support::write_file(a + "/f" + std::to_string(i), std::string(100 + i, 'a')));
        ASSERT_TRUE(support::write_file(b + "/g" + std::to_string(i), std::string(50 + i, 'b')));
    }
    IndexedFileList known;
    ShareList shares;
    shares.addDirectory(a.c_str(), true);
    shares.addDirectory(b.c_str(), true);
    std::string knownMet = dir / "known.met";
    std::string shareDat = dir / "share.dat";
    std::atomic<int> verified{0};
    {
        UnpausedHashThread thread(&known, &shares);
        thread.setSavePaths(knownMet.c_str(), shareDat.c_str());
        thread.queueFinished(new CountingParts(&verified));
        thread.hashDirectories({a.c_str(), b.c_str()});

        std::vector<std::unique_ptr<FileMeta>> sharedRecords;
        int refreshes = 0;
        for (int round = 0; round < 200000; round++) {
            for (const Message& message : bus.take(MSG_ADD_SHARED_FILES)) {
                std::unique_ptr<SharedFileBatch> batch(static_cast<SharedFileBatch*>(message.data));
                for (auto& record : batch->records) {
                    shares.addFile(b.c_str(), record.get());
                    shares.removeFile(record.get());
                    // "# Sent" counted on the known record.
                    known.edit(record->fileHash(), [](FileMeta* entry) {
                        float sent = entry->getFloat(kSentCountTag) + 1.0f;
                        entry->set(kSentCountTag, &sent, kTagFloat);
                    });
                    sharedRecords.push_back(std::move(record));
                }
            }
            if (round % 50 == 0) {
                known.save(knownMet.c_str());
                shares.save(shareDat.c_str());
                std::vector<OwnedString> paths;
                shares.directoryPaths(paths);
            }
            if (refreshes < 3 && sharedRecords.size() > static_cast<size_t>(100 * (refreshes + 1))) {
                refreshes++;
                shares.clearFiles();
                shares.setDirectories({a.c_str(), b.c_str()}, a.c_str());
                thread.hashDirectories({a.c_str(), b.c_str()});
                thread.queueFinished(new CountingParts(&verified));
            }
            if (refreshes == 3 && thread.allHashed() && thread.currentState() == Thread::kStopped) break;
            sleep_ms(1);
        }
        EXPECT_EQ(refreshes, 3);
        EXPECT_TRUE(thread.allHashed());
        EXPECT_EQ(thread.currentState(), Thread::kStopped);
        thread.stopAndWait();
        for (const Message& message : bus.take(MSG_ADD_SHARED_FILES))
            delete static_cast<SharedFileBatch*>(message.data);
        shares.clear();
    }
    EXPECT_EQ(verified.load(), 4);
    EXPECT_EQ(known.count(), 2 * kFiles);
    IndexedFileList reloaded;
    EXPECT_EQ(reloaded.load(knownMet.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(reloaded.count(), 2 * kFiles);
    threads_wait_all();
}

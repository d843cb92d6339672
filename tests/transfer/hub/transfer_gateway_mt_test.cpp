// The hub with a real hashing thread over many files while the test's
// thread plays the task thread: it shares what the thread finds, refreshes,
// changes the shared directories, counts uploads and saves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "support/files.h"
#include "transfer/hub/hub_fixture.h"
#include "transfer/options/transfer_options.h"
#include "transfer/sharing/indexed_file_list.h"
#include "v4ada/threads/linux/threads.h"

namespace {

class UnpausedHashThread : public HashThread {
public:
    using HashThread::HashThread;
    ~UnpausedHashThread() override { finishBody(); }

protected:
    void pause(int) override {}
};

}  // namespace

TEST_F(HubTest, HashingRunsWhileTheTaskThreadChangesTheShares) {
    hub_ = std::make_unique<TransferGateway>([](IndexedFileList* known, ShareList* shares) {
        return std::make_unique<UnpausedHashThread>(known, shares);
    });
    downloads_.hub = hub_.get();
    std::string a = dir_ / "a";
    std::string b = dir_ / "b";
    constexpr int kFiles = 200;
    for (int i = 0; i < kFiles; i++) {
        ASSERT_TRUE(support::write_file(a + "/f" + std::to_string(i), std::string(100 + i, 'a')));
        ASSERT_TRUE(support::write_file(b + "/g" + std::to_string(i), std::string(50 + i, 'b')));
    }
    hub_->load();
    TransferHandler handler(hub_.get());
    hub_->setShareDirectories({a.c_str()});

    int changes = 0;
    for (int round = 0; round < 100000; round++) {
        // Idle first: a stopped thread has posted all it found.
        bool idle = hub_->hashThread()->allHashed() && hub_->hashThread()->currentState() == Thread::kStopped;
        std::vector<Message> posted = bus_.take();
        for (Message& message : posted) handler.handle(&message);
        if (changes == 3 && idle && posted.empty()) break;
        // "# Sent" counted on whatever is shared now.
        std::vector<UniqueID> hashes = hub_->sharedHashes();
        if (!hashes.empty()) hub_->addSent(hashes[round % hashes.size()], 1000);
        if (round % 20 == 0) hub_->save();
        if (changes < 3 && hashes.size() > 50) {
            changes++;
            hub_->setShareDirectories(changes % 2 ? std::vector<OwnedString>{a.c_str(), b.c_str()}
                                                  : std::vector<OwnedString>{b.c_str()});
        }
        sleep_ms(1);
    }
    EXPECT_EQ(changes, 3) << output_.text();
    EXPECT_TRUE(hub_->hashThread()->allHashed()) << output_.text() << hub_->hashThread()->currentState();
    // The last directory list: a, b and incoming.
    EXPECT_EQ(hub_->sharedHashes().size(), static_cast<size_t>(2 * kFiles));
    EXPECT_EQ(hub_->knownFiles()->count(), 2 * kFiles);
    hub_->shutdown();
    IndexedFileList reloaded;
    EXPECT_EQ(reloaded.load(transferOptions()->knownMetPath().c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(reloaded.count(), 2 * kFiles);
    threads_wait_all();
}

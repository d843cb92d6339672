#include "transfer/hub/transfer_gateway.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/meta/meta_tag.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "downloads/file_source_interface.h"
#include "downloads/source_factories.h"
#include "support/files.h"
#include "support/link_download_fake.h"
#include "support/peer_wire.h"
#include "transfer/hub/hub_fixture.h"
#include "transfer/hub/shared_files_poster.h"
#include "transfer/hub/transfer_download_settings.h"
#include "transfer/options/transfer_options.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/peer/peer_door.h"
#include "transfer/sharing/shared_file_batch.h"
#include "transfer/uploads/upload_pool.h"
#include "v4ada/file/fs.h"

namespace {

using support::CallLog;
using support::hashOf;

class FakeParts final : public LoadedParts {
public:
    explicit FakeParts(CallLog* log) : log_(log) {}
    bool verify() override {
        log_->push_back("verify");
        return true;
    }
    void hashDone(bool) override {}
    void release() override { delete this; }

private:
    CallLog* log_;
};

}  // namespace

TEST_F(HubTest, NewSharedFileIsTaggedListedAnnouncedAndPublishedWithoutLocalTags) {
    std::string music = dir_ / "music";
    hub_->shareList()->addDirectory(music.c_str(), false);
    FileMeta* song = record("song", 100, 1, music + "/song");
    float sent = 3.0f;
    song->set(kSentCountTag, &sent, kTagFloat);
    hub_->addSharedFile(song);
    hub_->addSharedFile(record("tune", 100, 2, music + "/tune"));

    EXPECT_EQ(log_, (CallLog{"sharedFileChanged song", "publish song", "sharedFileChanged tune", "publish tune"}));
    FileMeta* stored = hub_->sharedFile(hashOf(2));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->getFloat(kSentCountTag), 0.0f);
    ASSERT_NE(stored->findTag(kSentCountTag), nullptr);
    EXPECT_EQ(stored->getSpecialInt(ST_UPLOAD_PRIORITY), 0);
    ASSERT_NE(stored->findSpecial(ST_UPLOAD_PRIORITY), nullptr);
    EXPECT_EQ(hub_->sharedFile(hashOf(1))->getFloat(kSentCountTag), 3.0f);  // kept
    EXPECT_EQ(namesIn(music.c_str()), (std::vector<std::string>{"song", "tune"}));

    ASSERT_EQ(overlay_.published.count(), 2);
    auto* published = static_cast<FileMeta*>(overlay_.published.at(0));
    EXPECT_EQ(published->findTag(kSentCountTag), nullptr);
    EXPECT_EQ(published->findSpecial(ST_UPLOAD_PRIORITY), nullptr);
    EXPECT_TRUE(published->fileHash().equals(hashOf(1)));

    hub_->addSharedFile(nullptr);
    EXPECT_EQ(log_.size(), 4u);
}

TEST_F(HubTest, RecordWithoutPathIsAnIncompleteFile) {
    hub_->addSharedFile(record("partial", 10, 3, ""));
    EXPECT_EQ(namesIn(kIncompleteFilesName), (std::vector<std::string>{"partial"}));
    EXPECT_EQ(hub_->directoryNames().back().c_str(), std::string(kIncompleteFilesName));
}

TEST_F(HubTest, AlreadySharedHashUpdatesTheStoredRecordQuietlyAndItFollowsItsPath) {
    std::string music = dir_ / "music";
    hub_->shareList()->addDirectory(music.c_str(), false);
    // A partial download loaded at start-up, then the same file found in a
    // shared directory.
    hub_->addSharedFile(record("partial", 10, 4, ""));
    log_.clear();
    FileMeta* found = record("found", 10, 4, music + "/found");
    int32_t priority = 2;
    found->setSpecial(ST_UPLOAD_PRIORITY, &priority);
    hub_->addSharedFile(found);
    EXPECT_TRUE(log_.empty());  // no notice, no publication
    FileMeta* stored = hub_->sharedFile(hashOf(4));
    EXPECT_STREQ(stored->name(), "found");
    EXPECT_EQ(stored->getSpecialInt(ST_UPLOAD_PRIORITY), 2);
    EXPECT_TRUE(namesIn(kIncompleteFilesName).empty());
    EXPECT_EQ(namesIn(music.c_str()), (std::vector<std::string>{"found"}));

    // The partial download is cancelled: the record goes from every list.
    std::unique_ptr<FileMeta> caller(record("partial", 10, 4, ""));
    hub_->removeSharedFile(caller.get());
    EXPECT_EQ(log_, (CallLog{"sharedFileRemoved partial"}));
    EXPECT_EQ(hub_->sharedFile(hashOf(4)), nullptr);
    // Listing every directory reads only live records.
    for (const OwnedString& name : hub_->directoryNames()) EXPECT_TRUE(namesIn(name.c_str()).empty());
    hub_->removeSharedFile(caller.get());  // not shared: nothing
    hub_->removeSharedFile(nullptr);
    EXPECT_EQ(log_.size(), 1u);
}

TEST_F(HubTest, SentCountsCompleteCopiesUploaded) {
    struct Case {
        const char* what;
        uint32_t size;
        bool hadTag;
        float before;
        uint64_t bytes;
        float after;  // below 0: nothing counted
    } cases[] = {
        {"empty file", 0, false, 0, 100, -1},
        {"first bytes", 100, false, 0, 50, 0.5f},
        {"on top", 1000, true, 1.5f, 500, 2.0f},
        {"beyond 2 GiB", 4000000000u, true, 0, 3000000000ull, 0.75f},
        {"beyond 4 GiB", 1000000000u, true, 1, 5000000000ull, 6.0f},
        {"damaged count", 10, true, -4, 5, 0.5f},
    };
    uint8_t hash = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        hash++;
        FileMeta* shared = record(c.what, c.size, hash, "");
        if (c.hadTag) shared->set(kSentCountTag, &c.before, kTagFloat);
        // The known record as the hashing thread keeps it.
        auto* known = new FileMeta();
        known->copyFrom(shared);
        hub_->knownFiles()->append(known);
        hub_->addSharedFile(shared);
        log_.clear();
        hub_->addSent(hashOf(hash), c.bytes);
        for (FileMeta* counted : {hub_->sharedFile(hashOf(hash)), hub_->knownFiles()->findByHash(hashOf(hash))}) {
            if (c.after < 0)
                EXPECT_EQ(counted->getFloat(kSentCountTag), 0.0f);
            else
                EXPECT_FLOAT_EQ(counted->getFloat(kSentCountTag), c.after);
        }
        // The user interface hears of a shared record that changed.
        EXPECT_EQ(log_.size(), c.after < 0 ? 0u : 1u);
    }
    log_.clear();
    hub_->addSent(hashOf(99), 10);  // neither known nor shared
    EXPECT_TRUE(log_.empty());
}

TEST_F(HubTest, PriorityGoesToKnownSharedAndDownloadingRecords) {
    hub_->addSharedFile(record("shared", 10, 5, ""));
    log_.clear();
    hub_->setPriority(hashOf(5), 2);
    EXPECT_EQ(hub_->sharedFile(hashOf(5))->getSpecialInt(ST_UPLOAD_PRIORITY), 2);
    hub_->setPriority(hashOf(6), 1);
    EXPECT_EQ(log_, (CallLog{"setFilePriority 5 2", "setFilePriority 6 1"}));
}

TEST_F(HubTest, RefreshEmptiesTheSharesResharesPartialsAndHashesAgain) {
    std::string music = dir_ / "music";
    hub_->shareList()->addDirectory(music.c_str(), false);
    hub_->addSharedFile(record("old", 10, 7, music + "/old"));
    downloads_.reshare.push_back(record("partial", 10, 8, ""));
    uint64_t before = thread_->starts;
    log_.clear();
    hub_->refresh();
    EXPECT_EQ(log_, (CallLog{"reshareAll", "sharedFileChanged partial", "publish partial"}));
    EXPECT_EQ(hub_->sharedFile(hashOf(7)), nullptr);
    EXPECT_NE(hub_->sharedFile(hashOf(8)), nullptr);
    EXPECT_TRUE(namesIn(music.c_str()).empty());
    EXPECT_EQ(namesIn(kIncompleteFilesName), (std::vector<std::string>{"partial"}));
    EXPECT_EQ(static_cast<uint64_t>(thread_->starts), before + 1);

    // A batch of the run the refresh replaced is dropped; one of the new
    // run is shared in order.
    auto stale = std::make_unique<SharedFileBatch>();
    stale->run = 0;
    stale->records.emplace_back(record("stale", 10, 9, music + "/stale"));
    hub_->addSharedFiles(stale.release());
    EXPECT_EQ(hub_->sharedFile(hashOf(9)), nullptr);
    hub_->refresh();
    auto fresh = std::make_unique<SharedFileBatch>();
    fresh->run = 2;
    fresh->records.emplace_back(record("a", 10, 20, music + "/a"));
    fresh->records.emplace_back(record("b", 10, 21, music + "/b"));
    hub_->addSharedFiles(fresh.release());
    EXPECT_EQ(namesIn(music.c_str()), (std::vector<std::string>{"a", "b"}));
}

TEST_F(HubTest, PosterHandsStorageCallsToTheTaskThreadInOrder) {
    SharedFilesPoster poster;
    std::string incoming = transferOptions()->incomingDir().c_str();
    poster.addSharedFile(record("done", 10, 30, ""));
    EXPECT_TRUE(poster.finalPlace(hashOf(30), (incoming + "/done").c_str(), 1234));
    EXPECT_TRUE(poster.finalPlace(hashOf(31), "/nowhere/x", 1));
    FileMeta gone;
    gone.setFileHash(hashOf(30));
    poster.removeSharedFile(gone);
    std::vector<Message> posted = bus_.take();
    ASSERT_EQ(posted.size(), 4u);
    TransferHandler handler(hub_.get());

    handler.handle(&posted[0]);  // added as a partial
    handler.handle(&posted[1]);  // completed in incoming
    FileMeta* stored = hub_->sharedFile(hashOf(30));
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(std::string(stored->path().c_str()), incoming + "/done");
    EXPECT_EQ(stored->modificationTime(), 1234u);
    EXPECT_TRUE(namesIn(kIncompleteFilesName).empty());
    EXPECT_EQ(namesIn(incoming.c_str()), (std::vector<std::string>{"done"}));

    handler.handle(&posted[2]);  // no such entry
    EXPECT_EQ(output_.text(), std::string("adding sharedirector from add(): ") + incoming + "\n" + kNotAddedToShared);
    // Whether a hash is shared is asked of the list at once.
    IndexedFileList shared;
    SharedFilesPoster asking(&shared);
    EXPECT_FALSE(asking.contains(hashOf(30)));
    shared.append(record("k", 1, 30, ""));
    EXPECT_TRUE(asking.contains(hashOf(30)));
    EXPECT_FALSE(poster.contains(hashOf(30)));  // no list: nothing shared
    handler.handle(&posted[3]);
    EXPECT_EQ(hub_->sharedFile(hashOf(30)), nullptr);
    EXPECT_TRUE(namesIn(incoming.c_str()).empty());
}

TEST_F(HubTest, SharesAsPeersAndTheOverlaySeeThem) {
    std::string a = dir_ / "a";
    std::string b = dir_ / "b";
    hub_->shareList()->addDirectory(b.c_str(), false);
    hub_->shareList()->addDirectory(a.c_str(), false);
    hub_->addSharedFile(record("x", 1, 40, a + "/x"));
    hub_->addSharedFile(record("y", 1, 41, ""));
    std::vector<std::string> names;
    for (const OwnedString& name : hub_->directoryNames()) names.emplace_back(name.c_str());
    EXPECT_EQ(names, (std::vector<std::string>{b, a, kIncompleteFilesName}));
    std::vector<UniqueID> hashes = hub_->sharedHashes();
    ASSERT_EQ(hashes.size(), 2u);
    EXPECT_TRUE(hashes[0].equals(hashOf(40)));
    EXPECT_TRUE(hashes[1].equals(hashOf(41)));
    EXPECT_STREQ(hub_->sharedFile(hashOf(41))->name(), "y");
    EXPECT_EQ(hub_->sharedFile(hashOf(42)), nullptr);
    EXPECT_EQ(hub_->directoryFiles("nowhere"), nullptr);
}

TEST_F(HubTest, LoadReadsTheFilesVerifiesPartialsFirstAndSavesOnlyAfterwards) {
    TransferOptions* options = transferOptions();
    std::string shared = dir_ / "shared";
    ASSERT_TRUE(fs_make_dir(shared.c_str()));
    ASSERT_TRUE(support::write_file(shared + "/f", "content"));
    // Nothing was read yet: a save writes nothing.
    hub_->save();
    EXPECT_FALSE(support::file_exists(options->knownMetPath().c_str()));
    EXPECT_FALSE(support::file_exists(options->shareDatPath().c_str()));

    IndexedFileList known;
    known.append(record("k", 10, 50, ""));
    ASSERT_TRUE(known.save(options->knownMetPath().c_str()));
    ShareList shares;
    shares.addDirectory(shared.c_str(), false);
    ASSERT_TRUE(shares.save(options->shareDatPath().c_str()));
    // The downloads' loaded partial files queue for verification.
    HashThread* thread = thread_;
    CallLog verified;
    downloads_.onLoadPartials = [thread, &verified] { thread->queueFinished(new FakeParts(&verified)); };

    hub_->load();
    std::string temp = options->tempDir().c_str();
    EXPECT_EQ(log_, (CallLog{"loadPartials " + temp, "doorFailed 4662"}));
    EXPECT_EQ(hub_->knownFiles()->count(), 1);
    std::vector<OwnedString> paths;
    hub_->directoryPaths(paths);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_STREQ(paths[0].c_str(), shared.c_str());
    EXPECT_STREQ(paths[1].c_str(), options->incomingDir().c_str());
    EXPECT_EQ(output_.text(), "Loading shared files...\n");

    EXPECT_TRUE(thread_->step().readData);
    EXPECT_EQ(verified, (CallLog{"verify"}));
    thread_->step();
    auto batches = bus_.take(MSG_ADD_SHARED_FILES);
    ASSERT_EQ(batches.size(), 1u);
    hub_->addSharedFiles(static_cast<SharedFileBatch*>(batches[0].data));
    EXPECT_EQ(namesIn(shared.c_str()), (std::vector<std::string>{"f"}));

    hub_->save();
    IndexedFileList reread;
    EXPECT_EQ(reread.load(options->knownMetPath().c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(reread.count(), 2);
    int32_t port = 0;
    EXPECT_TRUE(coreOptions()->getIntOption(kOptDoorPort, &port));
}

TEST_F(HubTest, SettingsForDownloadStorageComeFromTheTransferOptions) {
    TransferDownloadSettings settings;
    std::string temp = dir_ / "t2";
    ASSERT_TRUE(transferOptions()->setTemp((temp + "/").c_str()));
    EXPECT_STREQ(settings.tempDir().c_str(), temp.c_str());
    EXPECT_STREQ(settings.incomingDir().c_str(), transferOptions()->incomingDir().c_str());
    EXPECT_TRUE(settings.saveCorrupt());
    transferOptions()->setSaveCor(0);
    EXPECT_FALSE(settings.saveCorrupt());
    EXPECT_EQ(settings.reserveBytes(), 104857600u);
    transferOptions()->setReserveBytes(3072000000LL);
    EXPECT_EQ(settings.reserveBytes(), 3072000000u);
}

TEST_F(HubTest, TheUploadPoolJoinsInitLoadAndShutdown) {
    support::ProcessObjects pool{support::ProcessObjects::kUploadPool};
    UploadPool* uploads = uploadPool();
    hub_->init();
    EXPECT_EQ(peerUploads(), uploads);
    EXPECT_EQ(downloadServices().uploads, uploads);
    EXPECT_EQ(uploadHub(), hub_.get());
    EXPECT_FALSE(hub_->allHashed());
    // A file's queue follows the priority the hub sets, and a newly shared
    // file's priority.
    UserMeta waiting = support::makeUser("w", 0x0A000001, 4662, 7);
    uploads->queue().enqueue(waiting, hashOf(5));
    hub_->setPriority(hashOf(5), 2);
    EXPECT_EQ(uploads->queue().findFileQueue(hashOf(5))->priority(), 2);
    FileMeta* shared = record("s", 10, 5, "");
    int32_t one = 1;
    shared->setSpecial(ST_UPLOAD_PRIORITY, &one);
    hub_->addSharedFile(shared);
    EXPECT_EQ(uploads->queue().findFileQueue(hashOf(5))->priority(), 1);
    // uploadq.dat is read at load and written at shutdown.
    std::string queueFile = transferOptions()->uploadqPath().c_str();
    UploadQueue saved(uploads);
    saved.enqueue(support::makeUser("kept", 0x0A000002, 4662, 8), hashOf(6));
    saved.save(queueFile.c_str(), true);
    hub_->load();
    EXPECT_EQ(uploads->queue().queuedCount(), 2);
    std::remove(queueFile.c_str());
    hub_->shutdown();
    EXPECT_TRUE(support::file_exists(queueFile));
    EXPECT_EQ(peerUploads(), nullptr);
    EXPECT_EQ(downloadServices().uploads, nullptr);
    EXPECT_EQ(uploadHub(), nullptr);
}

// Start-up gives the downloads the link protocols: the one HTTP protocol
// makes sources of "http://" links; shutdown takes them away again.
TEST_F(HubTest, InitInstallsTheHttpProtocolForLinks) {
    hub_->init();
    EXPECT_EQ(linkSourceFactory(), hub_->protocols());
    EXPECT_EQ(hub_->protocols()->count(), 1);
    support::FakeLinkDownload download(1000);
    std::unique_ptr<FileSourceInterface> source(linkSourceFactory()->makeLinkSource(&download, "http://host/f.bin"));
    ASSERT_NE(source, nullptr);
    EXPECT_STREQ(source->userName(), "http://host/f.bin");
    EXPECT_EQ(linkSourceFactory()->makeLinkSource(&download, "ftp://host/f.bin"), nullptr);
    source.reset();
    hub_->shutdown();
    EXPECT_EQ(linkSourceFactory(), nullptr);
    EXPECT_EQ(hub_->protocols()->count(), 0);
}

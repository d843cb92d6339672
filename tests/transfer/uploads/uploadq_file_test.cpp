// uploadq.dat: the layout byte for byte, the cap on saved entries, the age
// rule, missing and damaged files, and saves on the storage worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "downloads/storage/download_services.h"
#include "downloads/storage/storage_worker.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "transfer/uploads/upload_queue.h"
#include "transfer/uploads/upload_world_fixture.h"
#include "v4ada/file/fs.h"
#include "v4ada/time/time_value.h"

namespace uploadtest {
namespace {

using support::Bytes;
using support::cat;
using support::id_bytes;
using support::le32;
using support::le64;

Bytes diskForm(UserMeta user) {
    support::ByteWriter out;
    user.toDisk(out.file());
    return out.bytes();
}

// A user of its own for each number up to 65535.
UserMeta numbered(int number) {
    UserMeta user;
    user.setIp(0x0B000000u + static_cast<uint32_t>(number));
    user.setPort(5000);
    UniqueID hash;
    hash.bytes()[0] = static_cast<uint8_t>(number);
    hash.bytes()[1] = static_cast<uint8_t>(number >> 8);
    hash.bytes()[2] = 1;
    user.setUserHash(hash);
    return user;
}

class UploadqFileTest : public UploadWorld {
protected:
    void SetUp() override {
        UploadWorld::SetUp();
        hub_->hashed = true;
        path_ = pathOf("uploadq.dat");
    }
    int64_t now() { return wall_clock_now().seconds; }
    void write(const Bytes& bytes) { ASSERT_TRUE(support::write_file(path_, bytes)); }
    // The served order of a queue loaded from the file, "-" when the
    // queue stays empty.
    std::string loadAndServe(std::vector<std::string>* printed = nullptr) {
        RecordingQueueHost host;
        UploadQueue loaded(&host);
        ui_->clear();
        loaded.load(path_.c_str());
        if (printed) *printed = ui_->printed();
        std::string order;
        while (std::unique_ptr<UserMeta> user = loaded.next(UploadQueue::kEmptySlotScore))
            order += std::string(user->nickname()) + " ";
        return order.empty() ? "-" : order;
    }

    std::string path_;
    RecordingQueueHost host_;
    UploadQueue queue_{&host_};
};

TEST_F(UploadqFileTest, TheSlotsAndQueuesAreWrittenByteForByteAndReadBack) {
    UserMeta served = userOf(1);
    host_.slots.push_back(UploadqEntry{hashOf(5), served});
    host_.slots.push_back(UploadqEntry{});
    queue_.enqueue(userOf(2), hashOf(0xA));
    queue_.enqueue(userOf(3), hashOf(0xA));
    queue_.enqueue(userOf(4), hashOf(0xB));
    Bytes expected = cat({le64(static_cast<uint64_t>(now())), le32(3),
                          le32(2), id_bytes(hashOf(5)), diskForm(served), id_bytes(UniqueID()), diskForm(UserMeta()),
                          le32(2), id_bytes(hashOf(0xA)), diskForm(userOf(2)), id_bytes(hashOf(0xA)), diskForm(userOf(3)),
                          le32(1), id_bytes(hashOf(0xB)), diskForm(userOf(4))});
    queue_.save(path_.c_str(), true);
    EXPECT_EQ(support::read_bytes(path_), expected);
    // The former slot's user waits first, for its file; the empty slot
    // brings nobody back.
    std::vector<std::string> printed;
    EXPECT_EQ(loadAndServe(&printed), "peer1 peer2 peer4 peer3 ");
    EXPECT_TRUE(printed.empty());
}

TEST_F(UploadqFileTest, TheCapFollowsTheUsersServedPerHour) {
    struct Case {
        int served;
        double hours;
        int cap;
    } cases[] = {
        {100, 1.0, 1200}, {10, 1.0 / 6.0, 720}, {3, 10.0, 500}, {100, 0.0, 1200}, {1000, 1e-9, INT32_MAX},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UploadQueue::savedCap(c.served, c.hours), c.cap) << c.served << " in " << c.hours;
}

TEST_F(UploadqFileTest, ASaveWritesNoMoreThanTheCapAndEveryGroupReadsBack) {
    for (int i = 0; i < 2000; i++) queue_.enqueue(numbered(i), hashOf(i % 2 ? 0xB : 0xA));
    for (int i = 0; i < 100; i++) ASSERT_TRUE(queue_.next(UploadQueue::kEmptySlotScore));
    clock_.advanceMs(3600000);  // an hour since the core started: cap 1200
    queue_.save(path_.c_str(), true);
    RecordingQueueHost host;
    UploadQueue loaded(&host);
    loaded.load(path_.c_str());
    EXPECT_EQ(loaded.queuedCount(), 1200);
    EXPECT_EQ(loaded.fileQueueCount(), 2);
    EXPECT_TRUE(ui_->printed().empty());
}

TEST_F(UploadqFileTest, AQueueOlderThanTwelveHoursOrFromTheFutureIsNotLoaded) {
    struct Case {
        int64_t age;
        const char* served;
        const char* printed;
    } cases[] = {
        {43199, "peer1 ", nullptr},
        {0, "peer1 ", nullptr},
        {43200, "-", "Upload Queue old. Starting Fresh"},
        {-1, "-", "Upload Queue old. Starting Fresh"},
    };
    for (const Case& c : cases) {
        write(cat({le64(static_cast<uint64_t>(now() - c.age)), le32(2), le32(0), le32(1), id_bytes(hashOf(1)),
                   diskForm(userOf(1))}));
        std::vector<std::string> printed;
        EXPECT_EQ(loadAndServe(&printed), c.served) << c.age;
        EXPECT_EQ(printed, c.printed ? std::vector<std::string>{c.printed} : std::vector<std::string>{}) << c.age;
    }
}

TEST_F(UploadqFileTest, NoFileIsNoFaultButAnUnreadableOneIsReportedAndPutAside) {
    std::vector<std::string> printed;
    EXPECT_EQ(loadAndServe(&printed), "-");
    EXPECT_TRUE(printed.empty());
    ASSERT_TRUE(fs_make_dir(path_.c_str()));  // a directory cannot be read as a file
    EXPECT_EQ(loadAndServe(&printed), "-");
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.front(), "Upload Queue not loaded");
    EXPECT_TRUE(support::file_exists(path_ + ".corrupt"));
}

TEST_F(UploadqFileTest, AFileCutAnywhereKeepsTheEntriesBeforeTheCut) {
    // Group 0: one slot; then two queues of one and two users.
    support::ByteWriter out;
    std::vector<std::pair<size_t, std::string>> entryEnds;  // offset after each entry, user
    auto entry = [&](const UniqueID& hash, UserMeta user) {
        writeUploadqEntry(out.file(), hash, user);
        entryEnds.emplace_back(out.bytes().size(), user.nickname());
    };
    writeUploadqHeader(out.file(), now(), 3);
    writeUploadqCount(out.file(), 1);
    entry(hashOf(1), userOf(1));
    writeUploadqCount(out.file(), 1);
    entry(hashOf(2), userOf(2));
    writeUploadqCount(out.file(), 2);
    entry(hashOf(3), userOf(3));
    entry(hashOf(3), userOf(4));
    const Bytes whole = out.bytes();
    for (size_t cut = 0; cut <= whole.size(); cut++) {
        write(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
        std::string expected;
        for (auto& [end, nick] : entryEnds)
            if (end <= cut) expected += nick + " ";
        std::vector<std::string> printed;
        // The queues take turns in the order of the file.
        EXPECT_EQ(loadAndServe(&printed), expected.empty() ? "-" : expected) << "cut at " << cut;
        bool damaged = cut < whole.size();
        bool reported = std::find(printed.begin(), printed.end(), "Upload Queue not loaded") != printed.end();
        EXPECT_EQ(reported, damaged) << "cut at " << cut;
        EXPECT_EQ(support::file_exists(path_ + ".corrupt"), damaged) << "cut at " << cut;
        EXPECT_EQ(support::file_exists(path_), !damaged) << "cut at " << cut;
        std::remove((path_ + ".corrupt").c_str());
    }
}

TEST_F(UploadqFileTest, EmptySlotEntriesBringNobodyBack) {
    write(cat({le64(static_cast<uint64_t>(now())), le32(1), le32(2), id_bytes(UniqueID()), diskForm(UserMeta()),
               id_bytes(UniqueID()), diskForm(UserMeta())}));
    RecordingQueueHost host;
    UploadQueue loaded(&host);
    loaded.load(path_.c_str());
    EXPECT_EQ(loaded.queuedCount(), 0);
    EXPECT_EQ(loaded.fileQueueCount(), 0);
}

TEST_F(UploadqFileTest, AFailedSaveIsReportedAndALaterSaveIsNeverOverwritten) {
    queue_.save(pathOf("missing-directory/uploadq.dat").c_str(), true);
    EXPECT_EQ(ui_->printed(), std::vector<std::string>{"Upload Queue not saved"});

    StorageWorker worker(0);
    downloadServices().storage = &worker;
    queue_.enqueue(userOf(1), hashOf(1));
    queue_.save(path_.c_str(), false);  // waits on the worker
    EXPECT_FALSE(support::file_exists(path_));
    queue_.enqueue(userOf(2), hashOf(1));
    queue_.save(path_.c_str(), true);
    Bytes latest = support::read_bytes(path_);
    EXPECT_EQ(worker.runPending(), 1);
    EXPECT_EQ(support::read_bytes(path_), latest);
    EXPECT_EQ(loadAndServe(), "peer1 peer2 ");
    downloadServices().storage = nullptr;
}

}  // namespace
}  // namespace uploadtest

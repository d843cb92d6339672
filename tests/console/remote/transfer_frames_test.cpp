// The frames that report downloads, upload slots and shares to the
// controller, against bytes written out from the protocol's field lists.
#include "console/remote/transfer_frames.h"

#include <gtest/gtest.h>

#include <memory>

#include "console/remote/controller_opcodes.h"
#include "console/remote/handle_table.h"
#include "console/remote/remote_fixture.h"
#include "core/meta/file_list.h"
#include "core/meta/meta_tag.h"
#include "core/net/tcp_frame.h"
#include "support/bytes.h"
#include "support/download_world.h"
#include "support/part_digests.h"
#include "transfer/uploads/upload_slot_interface.h"
#include "v4ada/file/ram_file.h"

using namespace remotetest;

namespace {

std::string payloadOf(ControllerFrame* frame) {
    std::unique_ptr<ControllerFrame> owned(frame);
    return frameBytes(frame).substr(kFrameHeaderSize + 1);
}

std::string idText(const UniqueID& id) { return support::as_text(support::id_bytes(id)); }

std::string f32(float value) {
    std::string out(4, '\0');
    memcpy(out.data(), &value, 4);
    return out;
}

// The wire form of a user without tags: hash, address, port, no tags.
std::string bareUser(const UniqueID& hash, uint32_t ip, uint16_t port) {
    return idText(hash) + le32(ip) + le16(port) + le32(0);
}

class FakeSlot : public UploadSlotInterface {
public:
    double speed() override { return rate; }
    bool user(UserMeta& out) override {
        if (!hasUser) return false;
        out.setUserHash(userHash);
        out.setIp(0x0403020A);
        out.setPort(4662);
        return true;
    }
    const char* fileName(OwnedString& out) override {
        out = name.c_str();
        return out.c_str();
    }
    bool fileHash(UniqueID& out) override {
        if (name.empty()) return false;
        out = hash;
        return true;
    }
    int score() override { return 0; }

    double rate = 0;
    bool hasUser = false;
    UniqueID userHash;
    std::string name;
    UniqueID hash;
};

}  // namespace

TEST(TransferFrames, UploadSlotAndUploadStatus) {
    FakeSlot busy;
    busy.hasUser = true;
    busy.userHash.randomize();
    busy.name = "song.mp3";
    busy.hash.randomize();
    busy.rate = 1.5;
    FakeSlot empty;
    EXPECT_EQ(payloadOf(newUploadSlotFrame(&busy, 7)),
              le32(7) + str("song.mp3") + bareUser(busy.userHash, 0x0403020A, 4662) + idText(busy.hash));
    EXPECT_EQ(payloadOf(newUploadSlotFrame(&empty, 8)),
              le32(8) + str("") + bareUser(UniqueID(), 0, 0) + std::string(16, '\0'));

    HandleTable handles;
    const uint32_t busyId = handles.idFor(&busy);
    const uint32_t emptyId = handles.idFor(&empty);
    std::vector<UploadSlotInterface*> slots{&empty, &busy};
    EXPECT_EQ(payloadOf(newUploadStatusFrame(slots, &handles)),
              le16(2) + le32(emptyId) + f32(0) + le32(busyId) + f32(1.5f));
    EXPECT_EQ(payloadOf(newUploadStatusFrame({}, &handles)), le16(0));
}

TEST(TransferFrames, SharedDirectoriesAsManyAsFitInOneFrame) {
    EXPECT_EQ(payloadOf(newSharedDirsFrame({OwnedString("/a"), OwnedString("/music/b")})),
              le16(2) + str("/a") + str("/music/b"));
    EXPECT_EQ(payloadOf(newSharedDirsFrame({})), le16(0));

    // Paths of the longest encodable length: 65,536 bytes each, so 63 of
    // them and the count fill 4,128,770 bytes and a 64th would pass the
    // frame limit.
    const std::string longPath(kStringMaxEncoded, 'p');
    std::vector<OwnedString> paths(70, OwnedString(longPath.c_str()));
    std::string payload = payloadOf(newSharedDirsFrame(paths));
    EXPECT_EQ(payload.substr(0, 2), le16(63));
    EXPECT_EQ(payload.size(), 2u + 63u * (2u + kStringMaxEncoded));
    EXPECT_LE(payload.size() + 1, kMaxFrameLength);
}

TEST(TransferFrames, SharedFilesWholeRecordsUnderTheFrameLimit) {
    FileList files;
    UniqueID first, second;
    first.randomize();
    second.randomize();
    for (const UniqueID* hash : {&first, &second}) {
        auto record = new FileMeta();
        record->setFileHash(*hash);
        files.add(record);
    }
    // A record without tags: hash, u32 0, u16 0, no tags.
    EXPECT_EQ(payloadOf(newSharedFilesFrame(&files)),
              le32(2) + idText(first) + le32(0) + le16(0) + le32(0) + idText(second) + le32(0) + le16(0) + le32(0));
    EXPECT_EQ(payloadOf(newSharedFilesFrame(nullptr)), le32(0));
    files.clear();

    // Records of about 60 KB (a blob tag): only whole ones, as many as
    // fit.
    std::vector<uint8_t> bytes(60000, 0xB1);
    MetaBlob blob;
    blob.length = static_cast<uint32_t>(bytes.size());
    blob.bytes = bytes.data();
    for (int i = 0; i < 80; i++) {
        auto record = new FileMeta();
        UniqueID hash;
        hash.randomize();
        record->setFileHash(hash);
        record->set("blob", &blob, kTagBlob);
        files.add(record);
    }
    const int recordSize = static_cast<FileMeta*>(files.at(0))->wireSize();
    std::string payload = payloadOf(newSharedFilesFrame(&files));
    i4_ram_file_class reader(payload.data(), static_cast<i4_pos>(payload.size()), 0);
    const uint32_t count = reader.read_32();
    EXPECT_LT(count, 80u);
    EXPECT_EQ(payload.size(), 4u + count * static_cast<uint32_t>(recordSize));
    EXPECT_LE(payload.size() + 1, kMaxFrameLength);
    EXPECT_GT(payload.size() + 1 + static_cast<uint32_t>(recordSize), kMaxFrameLength);
    EXPECT_EQ(payload.substr(4, kUniqueIdSize), idText(static_cast<FileMeta*>(files.at(0))->fileHash()));
    files.clear();
}

class DownloadFramesTest : public ::testing::Test {
protected:
    support::DownloadWorld world_;
};

TEST_F(DownloadFramesTest, AddedRemovedStatusAndPartMap) {
    const support::Bytes data = support::pattern_bytes(1000000);  // 3 crumbs
    Download* download = world_.start(data, "a.bin");
    ASSERT_NE(download, nullptr);
    world_.pool->setPriority(download, Download::kHigh);
    ASSERT_NE(download->priority(), Download::kNormal);

    // 188: the partial file's record, the priority, the record's path, the
    // id.
    std::string added = payloadOf(newDownloadAddedFrame(download, 9));
    i4_ram_file_class reader(added.data(), static_cast<i4_pos>(added.size()), 0);
    FileMeta record;
    ASSERT_TRUE(record.fromNetwork(&reader));
    EXPECT_STREQ(record.name(), "a.bin");
    EXPECT_EQ(record.size(), 1000000u);
    EXPECT_TRUE(record.fileHash().equals(download->fileHash()));
    OwnedString path;
    download->partialFile()->withMeta([&](FileMeta& meta) { path = meta.path(); });
    EXPECT_EQ(added.substr(static_cast<size_t>(reader.tell())),
              std::string(1, static_cast<char>(download->priority())) + str(path.c_str()) + le32(9));

    EXPECT_EQ(payloadOf(newDownloadRemovedFrame(download)), idText(download->fileHash()));

    // 174: runs of equal crumb weight; the verified last crumb as 65535.
    EXPECT_EQ(payloadOf(newPartMapFrame(download, 9)), le32(9) + le16(1) + le32(0) + le32(1000000) + le16(0));
    download->progress()->gotCrumb(2);
    EXPECT_EQ(payloadOf(newPartMapFrame(download, 9)),
              le32(9) + le16(2) + le32(0) + le32(972800) + le16(0) + le32(972800) + le32(1000000) + le16(65535));

    // 197: one 15-byte entry per download in list order, with the same ids
    // as the table gives elsewhere.
    Download* second = world_.start(support::pattern_bytes(5000, 2), "b.bin");
    ASSERT_NE(second, nullptr);
    world_.feeder(download);
    ASSERT_TRUE(world_.feed(download, data, 0, 100000));
    HandleTable handles;
    const uint32_t secondId = handles.idFor(second);
    const uint32_t firstId = handles.idFor(download);
    std::string status = payloadOf(newDownloadStatusFrame(world_.pool->downloadList(), &handles));
    // The pool lists the higher priority first; one crumb of three is
    // verified (33 %) and the feeder is its one source.
    EXPECT_EQ(status, le16(2) + le32(firstId) + std::string(1, static_cast<char>(download->statusCode())) +
                          f32(static_cast<float>(download->speed())) + le32(100000) + std::string("\x21\x01", 2) +
                          le32(secondId) + std::string(1, static_cast<char>(second->statusCode())) + f32(0) +
                          le32(0) + std::string("\0\0", 2));
    EXPECT_EQ(payloadOf(newDownloadStatusFrame(nullptr, &handles)), le16(0));
}

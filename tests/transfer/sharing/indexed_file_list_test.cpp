#include "transfer/sharing/indexed_file_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/digest/md4.h"

namespace {

UniqueID hashOf(const std::string& text) {
    UniqueID id;
    md4String(id.bytes(), text.c_str());
    return id;
}

FileMeta* record(const std::string& name, uint32_t size, uint32_t time, const std::string& content) {
    auto* out = new FileMeta();
    out->setName(name.c_str());
    out->setSize(size);
    out->setModificationTime(time);
    out->setFileHash(hashOf(content));
    return out;
}

class IndexedFileListTest : public ::testing::Test {
protected:
    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
    IndexedFileList list;
};

}  // namespace

TEST_F(IndexedFileListTest, LooksUpByHashAndByStampAfterEveryChange) {
    FileMeta* a = record("a.txt", 10, 100, "A");
    ASSERT_TRUE(list.add(a));
    std::unique_ptr<FileMeta> twin(record("twin", 10, 100, "A"));
    EXPECT_FALSE(list.add(twin.get()));  // same hash: not taken
    EXPECT_FALSE(list.add(nullptr));
    ASSERT_TRUE(list.add(record("b.txt", 10, 100, "B")));
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.findByHash(hashOf("A")), a);
    EXPECT_EQ(list.findByHash(hashOf("C")), nullptr);

    struct Stamp {
        uint32_t size;
        uint32_t time;
        const char* name;
        const char* found;  // hash content, or null
    } stamps[] = {
        {10, 100, "a.txt", "A"}, {10, 100, "b.txt", "B"}, {10, 100, "A.txt", nullptr},
        {11, 100, "a.txt", nullptr}, {10, 101, "a.txt", nullptr},
    };
    for (const Stamp& s : stamps) {
        std::unique_ptr<FileMeta> copy(list.copyBySizeTimeName(s.size, s.time, s.name));
        if (!s.found) {
            EXPECT_EQ(copy, nullptr) << s.name;
            continue;
        }
        ASSERT_NE(copy, nullptr) << s.name;
        EXPECT_NE(copy.get(), list.findByHash(hashOf(s.found)));  // a copy, not the entry
        EXPECT_TRUE(copy->fileHash().equals(hashOf(s.found)));
    }

    // An edit moves the record in both indexes.
    EXPECT_TRUE(list.edit(hashOf("A"), [](FileMeta* entry) {
        entry->setName("renamed");
        entry->setModificationTime(200);
        entry->setFileHash(hashOf("A2"));
    }));
    EXPECT_FALSE(list.edit(hashOf("A"), [](FileMeta*) { FAIL(); }));
    EXPECT_EQ(list.copyBySizeTimeName(10, 100, "a.txt"), nullptr);
    std::unique_ptr<FileMeta> renamed(list.copyBySizeTimeName(10, 200, "renamed"));
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(list.findByHash(hashOf("A2")), a);

    std::unique_ptr<FileMeta> taken(list.take(hashOf("A2")));
    EXPECT_EQ(taken.get(), a);
    EXPECT_EQ(list.findByHash(hashOf("A2")), nullptr);
    EXPECT_EQ(list.copyBySizeTimeName(10, 200, "renamed"), nullptr);
    EXPECT_EQ(list.take(hashOf("A2")), nullptr);
    EXPECT_EQ(list.count(), 1);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.findByHash(hashOf("B")), nullptr);
}

TEST_F(IndexedFileListTest, DuplicatesFromAFileStayFindableInTurn) {
    list.append(record("first", 1, 1, "same"));
    list.append(record("second", 2, 2, "same"));
    EXPECT_STREQ(list.findByHash(hashOf("same"))->name(), "first");
    delete list.take(hashOf("same"));
    ASSERT_NE(list.findByHash(hashOf("same")), nullptr);
    EXPECT_STREQ(list.findByHash(hashOf("same"))->name(), "second");
}

TEST_F(IndexedFileListTest, SavesAndReadsTheRecordListForm) {
    support::TempDir dir;
    support::CaptureUI output;
    list.append(record("a", 1, 7, "A"));
    list.append(record("b", 2, 8, "B"));
    std::string path = dir / "known.met";
    ASSERT_TRUE(list.save(path.c_str()));
    std::string bytes = support::read_file(path);
    EXPECT_EQ(bytes.substr(0, 5), std::string("\x0e\x02\x00\x00\x00", 5));

    IndexedFileList loaded;
    EXPECT_EQ(loaded.load(path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(loaded.count(), 2);
    std::unique_ptr<FileMeta> b(loaded.copyBySizeTimeName(2, 8, "b"));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->fileHash().equals(hashOf("B")));

    // Cut inside the second record: the first is kept, the read fails.
    IndexedFileList cut;
    support::ByteReader reader(support::as_bytes(bytes.substr(0, bytes.size() - 2)));
    EXPECT_FALSE(cut.read(reader.file()));
    EXPECT_EQ(cut.count(), 1);
    EXPECT_TRUE(cut.contains(hashOf("A")));
    output.clear();

    // A save that cannot replace the file says so and keeps the old one.
    EXPECT_FALSE(list.save((dir / "no/such/known.met").c_str()));
    EXPECT_EQ(output.text(), "Couldn't save " + (dir / "no/such/known.met") + "\n");
}

#include "transfer/sharing/known_met.h"

#include <gtest/gtest.h>

#include <string>

#include "core/meta/file_meta.h"
#include "core/meta/hash_context.h"
#include "core/meta/read_limits.h"
#include "core/meta/special_tags.h"
#include "support/files.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "transfer/sharing/indexed_file_list.h"
#include "v4ada/digest/md4.h"
#include "v4ada/digest/part_hash.h"

namespace {

UniqueID hashOf(const std::string& text) {
    UniqueID id;
    md4String(id.bytes(), text.c_str());
    return id;
}

FileMeta* bare(const std::string& name, uint32_t size) {
    auto* record = new FileMeta();
    record->setName(name.c_str());
    record->setSize(size);
    record->setFileHash(hashOf(name));
    return record;
}

class KnownMetTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        // A record above one crumb with its crumb hashes, from a real file.
        std::string path = dir / "two-crumbs";
        ASSERT_TRUE(support::write_file(path, std::string(kCrumbSize + 1, 'c')));
        HashContext context;
        hashed = new FileMeta(path.c_str(), context);
        while (hashed->hashStep(context)) {
        }
        ASSERT_TRUE(hashed->crumbHashesComplete());
    }
    void TearDown() override { delete hashed; }

    FileMeta* withCrumbs() {
        auto* copy = new FileMeta();
        copy->copyFrom(hashed);
        return copy;
    }

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
    support::TempDir dir;
    support::CaptureUI output;
    FileMeta* hashed = nullptr;
};

}  // namespace

TEST_F(KnownMetTest, AgeRuleLooksAtTheFirstRecordAboveOneCrumb) {
    struct Case {
        const char* what;
        std::vector<FileMeta*> records;
        bool old;
    } cases[] = {
        {"empty", {}, false},
        {"only small records", {bare("a", 10), bare("b", kCrumbSize)}, false},
        {"first large one has crumbs", {bare("a", 10), withCrumbs(), bare("c", kCrumbSize + 1)}, false},
        {"first large one lacks them", {bare("a", 10), bare("b", kCrumbSize + 1), withCrumbs()}, true},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        output.clear();
        IndexedFileList known;
        for (FileMeta* record : c.records) known.append(record);
        size_t count = c.records.size();
        EXPECT_EQ(knownFilesAreOld(known.list()), c.old);
        EXPECT_EQ(dropOldKnownFiles(known), c.old);
        EXPECT_EQ(known.count(), c.old ? 0 : static_cast<int>(count));
        EXPECT_EQ(output.text(), c.old ? "Old known.met\n" : "");
    }
}

TEST_F(KnownMetTest, LoadTellsMissingLoadedOldAndUnreadableApart) {
    std::string path = dir / "known.met";
    IndexedFileList known;
    EXPECT_EQ(loadKnownFiles(known, path.c_str()), MetaListLoad::kMissing);
    EXPECT_EQ(output.text(), "");

    IndexedFileList saved;
    saved.append(bare("small", 5));
    saved.append(withCrumbs());
    ASSERT_TRUE(saved.save(path.c_str()));
    EXPECT_EQ(loadKnownFiles(known, path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(known.count(), 2);
    EXPECT_TRUE(known.contains(hashed->fileHash()));
    known.clear();

    IndexedFileList old;
    old.append(bare("large", kCrumbSize * 3));
    ASSERT_TRUE(old.save(path.c_str()));
    EXPECT_EQ(loadKnownFiles(known, path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(known.count(), 0);
    EXPECT_EQ(output.text(), "Old known.met\n");
    output.clear();

    // Cut inside the second record: what was read is dropped, the file is
    // put aside and the age rule is not applied.
    ASSERT_TRUE(saved.save(path.c_str()));
    std::string bytes = support::read_file(path);
    ASSERT_TRUE(support::write_file(path, bytes.substr(0, bytes.size() - 3)));
    EXPECT_EQ(loadKnownFiles(known, path.c_str()), MetaListLoad::kFailed);
    EXPECT_EQ(known.count(), 0);
    EXPECT_FALSE(support::file_exists(path));
    EXPECT_EQ(support::read_file(path + ".corrupt"), bytes.substr(0, bytes.size() - 3));
    EXPECT_EQ(output.text(),
              "ERROR: MetaList::fromDisk()\nError loading: " + path + "\n" + path + " could not be read; kept as " + path + ".corrupt\n");
}

TEST_F(KnownMetTest, ARecordTheReaderWouldRefuseIsLeftOut) {
    std::string path = dir / "known.met";
    IndexedFileList saved;
    saved.append(bare("before", 5));
    FileMeta* swollen = bare("swollen.flac", 7);
    for (int32_t i = 0; i < kMetaMaxTags; i++) swollen->addTag(MetaTag::makeTag(kTagInt, "n", &i));
    saved.append(swollen);
    saved.append(withCrumbs());
    ASSERT_TRUE(saved.save(path.c_str()));
    EXPECT_EQ(output.text(), "More than " + std::to_string(kMetaMaxTags) + " tags: not kept in " + path + ": swollen.flac\n");

    IndexedFileList known;
    EXPECT_EQ(loadKnownFiles(known, path.c_str()), MetaListLoad::kLoaded);
    EXPECT_EQ(known.count(), 2);
    EXPECT_TRUE(known.contains(hashOf("before")));
    EXPECT_TRUE(known.contains(hashed->fileHash()));
    EXPECT_FALSE(known.contains(hashOf("swollen.flac")));
}


#include "transfer/sharing/share_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/meta/file_meta.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/file/fs.h"

namespace {

using support::file_exists;
using support::read_file;

std::string counted(const std::string& text) { return support::as_text(support::counted_text(text)); }

std::vector<std::string> pathsOf(ShareList& list) {
    std::vector<OwnedString> paths;
    list.directoryPaths(paths);
    std::vector<std::string> out;
    for (const OwnedString& path : paths) out.emplace_back(path.c_str());
    return out;
}

std::unique_ptr<FileMeta> recordAt(const std::string& path) {
    auto record = std::make_unique<FileMeta>();
    record->setPath(path.c_str());
    return record;
}

class ShareListTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        for (const char* name : {"a", "A", "b", "incoming"}) ASSERT_TRUE(fs_make_dir((dir / name).c_str()));
        incoming = dir / "incoming";
    }

    std::string shareDat(const std::string& bytes) {
        support::write_file(dir / "share.dat", bytes);
        return dir / "share.dat";
    }

    support::TempDir dir;
    support::CaptureUI output;
    std::string incoming;
    ShareList list;
};

}  // namespace

TEST(ShareListSamePath, ComparesBytesWithOneTrailingSlashAside) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"/data/music", "/data/music", true},
        {"/data/music/", "/data/music", true},
        {"/data/music", "/data/music/", true},
        {"/data/Music", "/data/music", false},  // names are case-sensitive
        {"/data/music//", "/data/music", false},
        {"/data\\music", "/data/music", false},  // '\' is part of a name
        {"c:\\share", "c:/share", false},
        {"/a", "/ab", false},
        {"/ab", "/a/", false},
        {"", "", true},
        {nullptr, "", true},
        {nullptr, nullptr, true},
        {"/", "", true},
        {"/a", nullptr, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ShareList::samePath(c.a, c.b), c.same) << (c.a ? c.a : "(null)") << " vs " << (c.b ? c.b : "(null)");
        EXPECT_EQ(ShareList::samePath(c.b, c.a), c.same) << "reversed";
    }
}

TEST_F(ShareListTest, LoadKeepsOrderRefusesDuplicatesAndAppendsIncoming) {
    std::string a = dir / "a";
    std::string path = shareDat(counted(a) + counted(dir / "A/") + counted(a + "/") + counted("") +
                                counted(dir / "missing") + counted(dir / "b"));
    EXPECT_TRUE(list.load(path.c_str(), incoming.c_str()));
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{a, dir / "A/", dir / "b", incoming}));
    EXPECT_EQ(output.text(), kDirectoryAlreadyAdded);
}

TEST_F(ShareListTest, IncomingNamedInShareDatStaysInItsPlaceOnce) {
    std::string path = shareDat(counted(incoming + "/") + counted(dir / "a"));
    EXPECT_TRUE(list.load(path.c_str(), incoming.c_str()));
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{incoming + "/", dir / "a"}));
}

TEST_F(ShareListTest, MissingOrEmptyShareDatSharesIncomingOnly) {
    EXPECT_TRUE(list.load((dir / "none.dat").c_str(), incoming.c_str()));
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{incoming}));

    ShareList empty;
    std::string path = shareDat("");
    EXPECT_TRUE(empty.load(path.c_str(), incoming.c_str()));
    EXPECT_EQ(pathsOf(empty), (std::vector<std::string>{incoming}));
    EXPECT_EQ(output.text(), "");
}

TEST_F(ShareListTest, DamagedShareDatKeepsWhatWasReadAndIsPutAside) {
    struct Case {
        const char* what;
        std::string tail;
    } cases[] = {
        {"cut inside a string", std::string("\x10\x00/x", 4)},
        {"cut inside a length", std::string("\x05", 1)},
        {"refused length", std::string("\xff\xff", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        output.clear();
        ShareList loaded;
        std::string path = shareDat(counted(dir / "a") + c.tail);
        EXPECT_FALSE(loaded.load(path.c_str(), incoming.c_str()));
        EXPECT_EQ(pathsOf(loaded), (std::vector<std::string>{dir / "a", incoming}));
        EXPECT_EQ(output.debugged(), kShareListLoadError);
        // The damaged file is kept for the user, never saved over.
        EXPECT_FALSE(file_exists(path));
        EXPECT_EQ(read_file(path + ".corrupt"), counted(dir / "a") + c.tail);
        EXPECT_NE(output.text().find("kept as " + path + ".corrupt"), std::string::npos) << output.text();
        fs_remove((path + ".corrupt").c_str());
    }
}

TEST_F(ShareListTest, SaveWritesCountedPathsBackToBack) {
    ASSERT_TRUE(list.addDirectory((dir / "b").c_str(), true));
    ASSERT_TRUE(list.addDirectory((dir / "a").c_str(), true));
    ASSERT_TRUE(list.addDirectory("/not/checked", false));
    auto partial = recordAt("");
    list.addFile(kIncompleteFilesName, partial.get());
    std::string path = dir / "share.dat";
    ASSERT_TRUE(list.save(path.c_str()));
    EXPECT_EQ(read_file(path), counted(dir / "b") + counted(dir / "a") + counted("/not/checked"));
    list.clear();

    ShareList reloaded;
    EXPECT_TRUE(reloaded.load(path.c_str(), incoming.c_str()));
    EXPECT_EQ(pathsOf(reloaded), (std::vector<std::string>{dir / "b", dir / "a", incoming}));
}

TEST_F(ShareListTest, FailedSaveKeepsTheOldFileAndIsReported) {
    std::string path = shareDat("old");
    ASSERT_TRUE(list.addDirectory(std::string(70000, 'x').c_str(), false));  // too long to encode
    EXPECT_FALSE(list.save(path.c_str()));
    EXPECT_EQ(read_file(path), "old");
    EXPECT_EQ(output.text(), "Couldn't save " + path + "\n");
    EXPECT_EQ(output.debugged(), kShareListSaveError);
    EXPECT_FALSE(list.save((dir / "no/such/dir/share.dat").c_str()));
}

TEST_F(ShareListTest, SetDirectoriesReplacesAllAndAddsIncomingUnlessNamed) {
    list.addDirectory((dir / "b").c_str(), true);
    list.setDirectories({(dir / "a").c_str(), (dir / "a/").c_str(), (dir / "gone").c_str()}, incoming.c_str());
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{dir / "a", incoming}));
    list.setDirectories({incoming.c_str(), (dir / "A").c_str()}, incoming.c_str());
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{incoming, dir / "A"}));
}

TEST_F(ShareListTest, DirectoryFilesFindsIncompleteByExactNameOnly) {
    list.addDirectory((dir / "a").c_str(), true);
    auto partial = recordAt("");
    list.addFile(kIncompleteFilesName, partial.get());
    FileList* incompleteFiles = list.directoryFiles(kIncompleteFilesName);
    ASSERT_NE(incompleteFiles, nullptr);
    EXPECT_EQ(incompleteFiles->count(), 1);
    EXPECT_EQ(list.directoryFiles("!incomplete files"), nullptr);
    EXPECT_EQ(list.directoryFiles((dir / "a/").c_str()), list.directoryFiles((dir / "a").c_str()));
    EXPECT_EQ(list.directoryFiles((dir / "A").c_str()), nullptr);

    // A directory of that very path makes the other case findable.
    list.addDirectory("!incomplete files", false);
    EXPECT_NE(list.directoryFiles("!incomplete files"), nullptr);
    EXPECT_NE(list.directoryFiles("!incomplete files"), incompleteFiles);
}

TEST_F(ShareListTest, FileOfAnUnsharedDirectoryAddsThatDirectory) {
    auto record = recordAt("/elsewhere/f");
    list.addFile("/elsewhere", record.get());
    EXPECT_EQ(output.text(), "adding sharedirector from add(): /elsewhere\n");
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{"/elsewhere"}));
    ASSERT_NE(list.directoryFiles("/elsewhere"), nullptr);
    EXPECT_EQ(list.directoryFiles("/elsewhere")->count(), 1);

    output.clear();
    list.addFile("/elsewhere", nullptr);
    EXPECT_EQ(output.text(), kNullSharedRecord);
}

TEST_F(ShareListTest, LookupsFindTheFirstListedDirectoryThatMatches) {
    // Directories that match one another, listed without the check.
    for (const char* path : {"/x/", "/x", "/x//", "/y"}) list.addDirectory(path, false);
    struct Case {
        const char* name;
        const char* holder;  // null: none matches
    } cases[] = {
        {"/x", "/x/"}, {"/x/", "/x/"}, {"/x//", "/x/"}, {"/x///", "/x//"}, {"/y/", "/y"}, {"/y//", nullptr}, {"/z", nullptr},
    };
    for (const Case& c : cases) {
        if (!c.holder) {
            EXPECT_EQ(list.directoryFiles(c.name), nullptr) << c.name;
            continue;
        }
        auto record = recordAt(std::string(c.name) + "f");
        list.addFile(c.name, record.get());
        EXPECT_EQ(std::string(list.holderOf(record.get()).c_str()), c.holder) << c.name;
        list.removeFile(record.get());
    }

    // With the first gone, the next in list order answers; one added
    // again comes last.
    EXPECT_TRUE(list.removeDirectory("/x/"));
    auto record = recordAt("/x/f");
    list.addFile("/x/", record.get());
    EXPECT_EQ(std::string(list.holderOf(record.get()).c_str()), "/x");
    EXPECT_TRUE(list.removeDirectory("/x"));
    EXPECT_TRUE(list.removeDirectory("/x/"));
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{"/y"}));
    list.addFile("/x", record.get());
    EXPECT_EQ(pathsOf(list), (std::vector<std::string>{"/y", "/x"}));
    EXPECT_EQ(std::string(list.holderOf(record.get()).c_str()), "/x");
    EXPECT_EQ(output.text(), "adding sharedirector from add(): /x\n");
}

TEST_F(ShareListTest, RecordStaysListedInExactlyOneDirectory) {
    std::string a = dir / "a";
    std::string b = dir / "b";
    list.addDirectory(a.c_str(), true);
    list.addDirectory(b.c_str(), true);
    auto record = recordAt(a + "/f");
    list.addFile(a.c_str(), record.get());
    list.addFile(a.c_str(), record.get());
    EXPECT_EQ(list.directoryFiles(a.c_str())->count(), 1);

    // Its path moved: it moves with it.
    record->setPath((b + "/f").c_str());
    list.addFile(b.c_str(), record.get());
    EXPECT_EQ(list.directoryFiles(a.c_str())->count(), 0);
    EXPECT_EQ(list.directoryFiles(b.c_str())->count(), 1);
    EXPECT_EQ(std::string(list.holderOf(record.get()).c_str()), b);

    list.addFile(kIncompleteFilesName, record.get());
    EXPECT_EQ(list.directoryFiles(b.c_str())->count(), 0);
    // Removal finds it wherever it is, whatever its path says now.
    record->setPath((a + "/f").c_str());
    list.removeFile(record.get());
    EXPECT_EQ(list.directoryFiles(kIncompleteFilesName)->count(), 0);
    EXPECT_TRUE(list.holderOf(record.get()).isNull());
}

TEST_F(ShareListTest, RemovedAndClearedDirectoriesLetGoOfTheirRecords) {
    std::string a = dir / "a";
    list.addDirectory(a.c_str(), true);
    auto inA = recordAt(a + "/f");
    auto partial = recordAt("");
    list.addFile(a.c_str(), inA.get());
    list.addFile(kIncompleteFilesName, partial.get());

    list.clearFiles();
    EXPECT_EQ(list.directoryFiles(a.c_str())->count(), 0);
    EXPECT_EQ(list.directoryFiles(kIncompleteFilesName)->count(), 0);
    EXPECT_EQ(list.directoryCount(), 1);

    list.addFile(a.c_str(), inA.get());
    EXPECT_TRUE(list.removeDirectory((a + "/").c_str()));
    EXPECT_FALSE(list.removeDirectory(a.c_str()));
    EXPECT_TRUE(list.holderOf(inA.get()).isNull());
    list.removeFile(inA.get());  // held nowhere: nothing to do
    EXPECT_EQ(list.directoryCount(), 0);
}

TEST_F(ShareListTest, DroppedDirectoryStaysReadableUntilTheNextChange) {
    std::string a = dir / "a";
    list.addDirectory(a.c_str(), true);
    auto record = recordAt(a + "/f");
    list.addFile(a.c_str(), record.get());
    FileList* files = list.directoryFiles(a.c_str());

    EXPECT_TRUE(list.dropDirectory(a.c_str()));  // as the hashing thread does
    EXPECT_EQ(list.directoryCount(), 0);
    EXPECT_EQ(list.directoryFiles(a.c_str()), nullptr);
    EXPECT_EQ(files->count(), 1);  // still allocated for the step that asked
    list.removeFile(record.get());
    EXPECT_EQ(files->count(), 0);

    list.addFile(a.c_str(), record.get());  // the next change frees it
    EXPECT_EQ(list.directoryCount(), 1);
    EXPECT_FALSE(list.dropDirectory("/not/listed"));
}

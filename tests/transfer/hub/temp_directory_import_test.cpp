#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "downloads/storage/download_services.h"
#include "downloads/storage/temp_name_allocator.h"
#include "support/files.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "transfer/hub/transfer_handler.h"
#include "v4ada/file/fs.h"

namespace {

class TempImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        source = dir / "old";
        temp = dir / "temp";
        ASSERT_TRUE(fs_make_dir(source.c_str()));
        ASSERT_TRUE(fs_make_dir(temp.c_str()));
        downloadServices().tempNames = &names;
    }
    void TearDown() override { resetDownloadServices(); }

    void put(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(support::write_file(source + "/" + name, bytes));
    }

    support::TempDir dir;
    support::CaptureUI output;
    TempNameAllocator names;
    std::string source;
    std::string temp;
};

}  // namespace

TEST_F(TempImportTest, OnlyRecordsWithTheirDataMoveUnderFreshNumbers) {
    struct Entry {
        const char* name;
        bool moves;
    } entries[] = {
        {"7.part", true},       {"7.part.met", true},  // a partial download
        {"8.part.met", false},                         // its data is missing
        {"noextension", false},  {"a.met", false},       // not "<x>.part.met"
        {"9.PART", false},       {"9.PART.met", false},  // extensions are exact
        {"met", false},          {".part.met", false},
    };
    for (const Entry& e : entries) put(e.name, std::string("bytes of ") + e.name);
    // Number 1 is taken in the temp directory already.
    ASSERT_TRUE(support::write_file(temp + "/1.part", "taken"));

    TransferHandler::importTempDirectory(source.c_str(), temp.c_str());
    EXPECT_EQ(output.text(), "");
    for (const Entry& e : entries) EXPECT_EQ(support::file_exists(source + "/" + e.name), !e.moves) << e.name;
    EXPECT_EQ(support::read_file(temp + "/2.part"), "bytes of 7.part");
    EXPECT_EQ(support::read_file(temp + "/2.part.met"), "bytes of 7.part.met");
    EXPECT_EQ(support::read_file(temp + "/1.part"), "taken");
}

// The running downloads' pairs stay under their names whichever way the
// temp directory is spelled.
TEST_F(TempImportTest, TheTempDirectoryItselfIsNeverASource) {
    ASSERT_TRUE(support::write_file(temp + "/1.part", "data"));
    ASSERT_TRUE(support::write_file(temp + "/1.part.met", "record"));
    std::filesystem::create_directory_symlink(temp, dir / "link");
    const std::string spellings[] = {
        temp + "/",
        temp + "/.",
        std::filesystem::relative(temp).string(),
        dir / "link",
        dir / "link/",
    };
    for (const std::string& spelling : spellings) {
        TransferHandler::importTempDirectory(spelling.c_str(), temp.c_str());
        EXPECT_EQ(support::read_file(temp + "/1.part"), "data") << spelling;
        EXPECT_EQ(support::read_file(temp + "/1.part.met"), "record") << spelling;
        EXPECT_FALSE(support::file_exists(temp + "/2.part")) << spelling;
    }
    EXPECT_EQ(output.text(), "");
}

TEST_F(TempImportTest, DirectoryThatDoesNotListIsReported) {
    TransferHandler::importTempDirectory((dir / "none").c_str(), temp.c_str());
    TransferHandler::importTempDirectory("", temp.c_str());
    TransferHandler::importTempDirectory(nullptr, temp.c_str());
    EXPECT_EQ(output.text(), "that directory " + (dir / "none") +
                                 " does not exist.\nthat directory  does not exist.\nthat directory  does not exist.\n");
}

TEST_F(TempImportTest, FailedMoveIsReportedAndKeepsThePairTogether) {
    put("4.part", "data");
    put("4.part.met", "record");
    std::string missing = dir / "missing";  // the target cannot take files
    TransferHandler::importTempDirectory(source.c_str(), missing.c_str());
    EXPECT_EQ(output.text(), "error attempting to copy " + source + "/4.part to " + missing + "/1.part\n");
    EXPECT_EQ(support::read_file(source + "/4.part"), "data");
    EXPECT_EQ(support::read_file(source + "/4.part.met"), "record");
}

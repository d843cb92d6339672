#include "core/filter/filter_master.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/temp_dir.h"
#include "core/filter/filter_lines.h"
#include "core/filter/filter_record.h"

using namespace support;

namespace {

class TextRecord : public FilterRecord {
public:
    TextRecord(std::initializer_list<const char*> values) : values_(values) {}
    int filterTagCount() const override { return static_cast<int>(values_.size()); }
    const char* filterTextAt(int index) const override { return values_[static_cast<size_t>(index)]; }

private:
    std::vector<const char*> values_;
};

std::vector<std::string> linesOf(FilterMaster& filter) {
    std::vector<std::string> out;
    for (int i = 0; i < filter.lineCount(); i++) out.emplace_back(filter.line(i).c_str());
    return out;
}

class FilterMasterTest : public ::testing::Test {
protected:
    support::TempDir dir;
    FilterMaster filter;
    std::string file = dir / "filters.txt";
};

TEST_F(FilterMasterTest, WithoutFileEveryResultPasses) {
    EXPECT_FALSE(filter.load(file.c_str()));
    EXPECT_STREQ(filter.path().c_str(), file.c_str());
    EXPECT_EQ(filter.lineCount(), 0);
    EXPECT_FALSE(filter.isFiltered(TextRecord{"anything", "sample"}));
}

TEST_F(FilterMasterTest, LinesMatchAsSubstringsIgnoringLetterCase) {
    write_file(file, "Sample\ntest\n");
    ASSERT_TRUE(filter.load(file.c_str()));
    struct Case {
        TextRecord record;
        bool filtered;
    } cases[] = {
        {{"a sample file"}, true},
        {{"SAMPLE.AVI"}, true},
        {{"clip", "Test"}, true},          // any string tag
        {{nullptr, "latest news"}, true},  // null values are skipped
        {{"samp le", "tes"}, false},
        {{}, false},
    };
    int index = 0;
    for (const Case& c : cases) EXPECT_EQ(filter.isFiltered(c.record), c.filtered) << "case " << index++;
    EXPECT_EQ(linesOf(filter), (std::vector<std::string>{"Sample", "test"}));  // kept as read
}

TEST_F(FilterMasterTest, LineEndsAndEmptyLines) {
    struct Case {
        const char* content;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"\n\n\r\n\r\n", {}},
        {"one\r\ntwo\r\n", {"one", "two"}},
        {"cut\rafter carriage return\nnext", {"cut", "next"}},  // last line without an end
        {"\r\nx\n\n", {"x"}},
    };
    for (const Case& c : cases) {
        write_file(file, c.content);
        ASSERT_TRUE(filter.load(file.c_str()));
        EXPECT_EQ(linesOf(filter), c.lines) << c.content;
    }
}

TEST_F(FilterMasterTest, LongLinesActAsPiecesOf255) {
    std::string a(300, 'a'), b(255, 'b'), c(254, 'c');
    std::string shortPiece(45, 'a');
    write_file(file, a + "\n" + b + "\n" + c + "\n");
    ASSERT_TRUE(filter.load(file.c_str()));
    EXPECT_EQ(linesOf(filter), (std::vector<std::string>{std::string(255, 'a'), shortPiece, b, c}));
    std::string onlyTail = "x" + shortPiece + "x";
    EXPECT_TRUE(filter.isFiltered(TextRecord{onlyTail.c_str()}));  // the second piece alone
}

TEST_F(FilterMasterTest, ReloadReplacesAndDeletedFileEmpties) {
    write_file(file, "old\n");
    ASSERT_TRUE(filter.load(file.c_str()));
    write_file(file, "new\n");
    ASSERT_TRUE(filter.load(file.c_str()));
    EXPECT_FALSE(filter.isFiltered(TextRecord{"old"}));
    EXPECT_TRUE(filter.isFiltered(TextRecord{"NEW"}));
    std::remove(file.c_str());
    EXPECT_FALSE(filter.load(file.c_str()));
    EXPECT_FALSE(filter.isFiltered(TextRecord{"new"}));
    filter.addLine("");
    filter.addLine(nullptr);
    EXPECT_EQ(filter.lineCount(), 0);
    filter.addLine("Added");
    EXPECT_TRUE(filter.matchesText("was added"));
    filter.clear();
    EXPECT_FALSE(filter.matchesText("was added"));
}

TEST_F(FilterMasterTest, HundredThousandLines) {
    std::string content;
    for (int i = 0; i < 100000; i++) content += "word" + std::to_string(i) + "\n";
    write_file(file, content);
    ASSERT_TRUE(filter.load(file.c_str()));
    EXPECT_EQ(filter.lineCount(), 100000);
    EXPECT_TRUE(filter.isFiltered(TextRecord{"the WORD99999 file"}));
    EXPECT_FALSE(filter.isFiltered(TextRecord{"nothing here"}));
}

TEST(FilterLineReaderTest, BlockBoundariesDoNotChangeTheLines) {
    std::string content = "first\r\n" + std::string(600, 'z') + "\nmid\rdle\n\nlast";
    auto collect = [&](size_t block) {
        std::vector<std::string> out;
        FilterLineReader reader([&](const char* text, int length) { out.emplace_back(text, length); });
        for (size_t at = 0; at < content.size(); at += block)
            reader.feed(content.data() + at, std::min(block, content.size() - at));
        reader.finish();
        return out;
    };
    std::vector<std::string> whole = collect(content.size());
    ASSERT_EQ(whole.size(), 6u);  // first, 255, 255, 90, mid, last
    for (size_t block : {1u, 2u, 7u, 255u, 256u}) EXPECT_EQ(collect(block), whole) << block;
}

}  // namespace

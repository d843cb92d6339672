// The console's side of overlay searches: the search line's tree, the
// result list kept by the console user interface, the end lines and the
// result listing.
#include <gtest/gtest.h>

#include "console/cli/flock_clc.h"
#include "console/cli/overlay_commands.h"
#include "console/cli/result_link_commands.h"
#include "core/meta/file_meta.h"
#include "console/ui/fclc_ui.h"
#include "core/bus/message_q.h"
#include "core/meta/special_tags.h"
#include "core/search/search_node.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"
#include "support/bus_recorder.h"
#include "support/ui_capture.h"
#include "v4ada/digest/md4.h"

namespace {

// The console user interface, its output kept.
class KeptFclcUI : public FclcUI {
public:
    std::string text;

protected:
    void writeOutput(const char* data, int length) override { text.append(data, static_cast<size_t>(length)); }
};

class SearchResults : public ::testing::Test {
protected:
    void SetUp() override {
        initSpecialTags();
        consoleClient.store(&client_);
        consoleServant.store(&client_);
    }
    void TearDown() override {
        consoleServant.store(nullptr);
        consoleClient.store(nullptr);
        resetSpecialTags();
    }
    // The search the line posts, or null.
    std::unique_ptr<ServiceSearch> searchOf(const char* line) {
        std::string copy(line);
        s_command(copy.data());
        std::vector<Message> posted = bus_.take(MSG_SEARCH);
        if (posted.size() != 1) return nullptr;
        return std::unique_ptr<ServiceSearch>(static_cast<ServiceSearch*>(posted[0].data));
    }
    std::unique_ptr<Service> result(uint8_t key, uint8_t desc, const char* name) {
        auto s = std::make_unique<Service>();
        s->serviceId.bytes()[0] = key;
        s->descId.bytes()[0] = desc;
        s->setSpecial(ST_NAME, name);
        return s;
    }

    support::BusRecorder bus_;
    support::CaptureUI output_;
    FlockCLC client_;
    KeptFclcUI ui_;
};

std::string textOf(SearchNode* node) {
    if (auto find = dynamic_cast<SN_FindStr*>(node)) return std::string("find(") + find->text() + ")";
    if (auto tag = dynamic_cast<SN_StrTagCompare*>(node))
        return std::string("tag(") + tag->tagName() + "=" + tag->text() + ")";
    if (auto both = dynamic_cast<SN_Compound*>(node))
        return "and(" + textOf(both->left()) + "," + textOf(both->right()) + ")";
    return node ? "?" : "-";
}

TEST_F(SearchResults, SearchLinesBuildTheirTrees) {
    const std::string type = specialCodeName(ST_TYPE);
    struct Case {
        const char* line;
        const char* keyword;
        std::string tree;
    };
    const Case cases[] = {
        {"s fat day -Audio", "fat", "and(and(find(day),find(-audio)),tag(" + type + "=audio))"},
        {"s FAT", "fat", "-"},
        {"s fat a b c", "fat", "-"},
        {"s fat day night dawn dusk", "fat", "and(and(find(day),find(night)),find(dawn))"},
        {"s -Video clip", "-video", "and(find(clip),tag(" + type + "=video))"},
        {"s fat -Audio -Image", "fat", "and(and(find(-audio),find(-image)),tag(" + type + "=image))"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<ServiceSearch> search = searchOf(c.line);
        ASSERT_NE(search, nullptr) << c.line;
        EXPECT_STREQ(search->keyword().c_str(), c.keyword) << c.line;
        UniqueID key;
        md4String(key.bytes(), c.keyword);
        EXPECT_TRUE(search->key.equals(key)) << c.line;
        EXPECT_EQ(search->start, 0);
        EXPECT_EQ(search->max, 100);
        EXPECT_EQ(textOf(search->root()), c.tree) << c.line;
    }
}

TEST_F(SearchResults, AFloodKeepsTheFirstResultsOnce) {
    // Answers of every search are in the list until the next one: no more
    // than one search asks for, each once.
    for (int round = 0; round < 3; round++)
        for (int i = 0; i < 250; i++) ui_.searchResult(result(static_cast<uint8_t>(i), 1, "flood").get());
    ASSERT_EQ(client_.results()->count(), FlockCLC::kMostResults);
    for (int i = 0; i < FlockCLC::kMostResults; i++)
        EXPECT_EQ(static_cast<Service*>(client_.results()->at(i))->serviceId.bytes()[0], i);
    EXPECT_FALSE(client_.holdsResult(*result(static_cast<uint8_t>(FlockCLC::kMostResults), 1, "late")));
    EXPECT_NE(searchOf("s fresh"), nullptr);
    EXPECT_EQ(client_.results()->count(), 0);
    ui_.searchResult(result(200, 1, "after").get());
    EXPECT_EQ(client_.results()->count(), 1);
}

TEST_F(SearchResults, ShortKeywordPostsNothingAndEmptiesTheList) {
    ui_.searchResult(result(1, 1, "a").get());
    ASSERT_EQ(client_.results()->count(), 1);
    for (const char* line : {"s ab", "s", "s \"\""}) {
        EXPECT_EQ(searchOf(line), nullptr) << line;
        EXPECT_EQ(client_.results()->count(), 0);
    }
    EXPECT_EQ(output_.printed(), std::vector<std::string>(3, "Search string must be longer than 2 characters."));
}

TEST_F(SearchResults, ResultsKeptOnceAndEndsPrinted) {
    auto again = result(1, 1, "one.mp3");
    for (auto& s : {result(1, 1, "one.mp3"), result(1, 1, "one.mp3"), result(1, 2, "two.mp3"),
                    result(2, 1, "three.mp3")})
        ui_.searchResult(s.get());
    EXPECT_EQ(client_.results()->count(), 3);
    EXPECT_TRUE(client_.holdsResult(*again));
    ui_.searchEnd(nullptr, nullptr, 5, 5);
    ui_.searchEnd(nullptr, nullptr, 40, 120);
    EXPECT_EQ(ui_.text, "Got results. (5,5)\nGot results. (40,120)\n");

    output_.clear();
    std::string line = "vr 2";
    vr_command(line.data());
    std::vector<std::string> shown = output_.printed();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_NE(shown[1].find("two.mp3"), std::string::npos);
    for (const char* stale : {"vr 0", "vr 4", "vr x"}) {
        output_.clear();
        line = stale;
        vr_command(line.data());
        EXPECT_EQ(output_.printed(), std::vector<std::string>{"None."}) << stale;
    }
}

// d takes a result by its number: its tags go into the download's
// record and its DescID becomes the file hash.
TEST_F(SearchResults, DownloadOfAResultCopiesItsTagsAndDescId) {
    auto first = result(1, 0x11, "one.mp3");
    auto second = result(2, 0x22, "two.mp3");
    uint32_t size = 123456;
    second->setSpecial(ST_SIZE, &size);
    second->set("bitrate", "192", kTagString);
    ui_.searchResult(first.get());
    ui_.searchResult(second.get());
    std::string line = "d 2";
    d_command(line.data());
    std::vector<Message> posted = bus_.take(MSG_START_DOWNLOAD);
    ASSERT_EQ(posted.size(), 1u);
    std::unique_ptr<FileMeta> record(static_cast<FileMeta*>(posted[0].data));
    EXPECT_STREQ(record->name(), "two.mp3");
    EXPECT_EQ(record->size(), size);
    EXPECT_STREQ(record->textOf("bitrate"), "192");
    EXPECT_TRUE(record->fileHash().equals(second->descId));

    // Zero, past the end, no number, and every number once a new search
    // emptied the list.
    for (const char* refused : {"d 0", "d 3", "d", "d x", "s ab", "d 1"}) {
        output_.clear();
        line = refused;
        if (line[0] == 's') {
            s_command(line.data());
            continue;
        }
        d_command(line.data());
        EXPECT_EQ(output_.printed(), std::vector<std::string>{"Invalid Result number\n"}) << refused;
    }
    EXPECT_TRUE(bus_.take(MSG_START_DOWNLOAD).empty());
}

}  // namespace

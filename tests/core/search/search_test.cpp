#include "core/search/search.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/meta/meta.h"
#include "core/meta/special_tags.h"
#include "core/search/search_node.h"
#include "support/process_objects.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

class SearchTest : public ::testing::Test {
protected:
    static void addString(Meta& record, const char* name, const char* text) {
        record.addTag(MetaTag::makeTag(kTagString, name, text));
    }
    static void addInt(Meta& record, const char* name, int32_t value) {
        record.addTag(MetaTag::makeTag(kTagInt, name, &value));
    }

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
};

// Wire bytes of a node, or "" when it could not be written.
std::string wireOf(SearchNode* node) {
    i4_ram_file_class file(nullptr, 0, 64);
    bool ok = node->toNetwork(&file);
    std::string bytes(reinterpret_cast<char*>(file.data()), static_cast<size_t>(file.size()));
    i4_free(file.data());
    return ok ? bytes : std::string();
}

SearchNode* readWire(const std::string& bytes) {
    i4_ram_file_class file(const_cast<char*>(bytes.data()), bytes.size(), 0);
    return SearchNode::makeFromNetwork(&file);
}

std::string encoded(const std::string& text) {
    std::string out;
    out += static_cast<char>(text.size() & 0xFF);
    out += static_cast<char>(text.size() >> 8);
    return out + text;
}

TEST_F(SearchTest, NodeKindsMatchTheirRecords) {
    Meta record;
    addString(record, "title", "xABCx Song");
    addInt(record, "abc", 7);  // a name is no value
    addInt(record, "bitrate", 128);
    uint32_t size = 1001;
    record.setSpecial(ST_SIZE, &size);

    struct Case {
        const char* what;
        SearchNode* node;
        bool matches;
    };
    std::vector<Case> cases = {
        {"text anywhere, value case folded", new SN_FindStr("abc"), true},
        {"text typed with capitals", new SN_FindStr("ABC"), true},
        {"text only in an integer tag's name", new SN_FindStr("bitrate"), false},
        {"text tag of that name", new SN_StrTagCompare("title", "song"), true},
        {"text tag typed with capitals", new SN_StrTagCompare("title", "SONG"), true},
        {"text tag name compared exactly", new SN_StrTagCompare("Title", "song"), false},
        {"text tag whose tag is an integer", new SN_StrTagCompare("bitrate", "128"), false},
        {"size greater", new SN_IntTagCompare("\x02", 1000, kIntGreater), true},
        {"size not greater", new SN_IntTagCompare("\x02", 1001, kIntGreater), false},
        {"equal", new SN_IntTagCompare("bitrate", 128, kIntEqual), true},
        {"less", new SN_IntTagCompare("bitrate", 128, kIntLess), false},
        {"greater or equal", new SN_IntTagCompare("bitrate", 128, kIntGreaterEqual), true},
        {"less or equal", new SN_IntTagCompare("bitrate", 127, kIntLessEqual), false},
        {"not equal", new SN_IntTagCompare("bitrate", 127, kIntNotEqual), true},
        {"unknown integer operator", new SN_IntTagCompare("bitrate", 128, 6), false},
        {"integer test of a text tag", new SN_IntTagCompare("title", 0, kIntNotEqual), false},
        {"match all", new SN_MatchAll(), true},
    };
    for (Case& c : cases) {
        EXPECT_EQ(c.node->match(&record), c.matches) << c.what;
        SearchNode* copy = c.node->clone();
        EXPECT_EQ(copy->match(&record), c.matches) << c.what << " (clone)";
        EXPECT_EQ(wireOf(copy), wireOf(c.node)) << c.what;
        delete copy;
        delete c.node;
    }
}

TEST_F(SearchTest, ATagBehindVeryManyIsFoundInOneWalk) {
    // A record from a peer may carry very many tags: each kind of node
    // walks them once (looking each up by position took minutes here).
    Meta record;
    for (int i = 0; i < 100000; i++) addInt(record, "n", i);
    addString(record, "title", "last");
    addInt(record, "bitrate", 128);
    SN_FindStr text("last");
    SN_StrTagCompare named("title", "last");
    SN_IntTagCompare number("bitrate", 128, kIntEqual);
    SN_FindStr absent("none");
    EXPECT_TRUE(text.match(&record));
    EXPECT_TRUE(named.match(&record));
    EXPECT_TRUE(number.match(&record));
    EXPECT_FALSE(absent.match(&record));
}

TEST_F(SearchTest, CompoundOperators) {
    Meta record;
    addString(record, "title", "blue");
    struct Case {
        uint8_t op;
        bool left, right, result;
    };
    const Case cases[] = {
        {kSearchAnd, true, true, true},     {kSearchAnd, true, false, false},
        {kSearchAnd, false, true, false},   {kSearchOr, false, true, true},
        {kSearchOr, false, false, false},   {kSearchOr, true, false, true},
        {kSearchAndNot, true, false, true}, {kSearchAndNot, true, true, false},
        {kSearchXor, true, true, false},    {kSearchXor, false, true, true},
        {kSearchXor, true, false, true},    {kSearchNotAnd, false, true, true},
        {kSearchNotAnd, true, true, false}, {kSearchNotAnd, false, false, false},
        {5, true, true, false},
    };
    for (const Case& c : cases) {
        SN_Compound node(c.op, new SN_FindStr(c.left ? "blu" : "red"), new SN_FindStr(c.right ? "lue" : "green"));
        EXPECT_EQ(node.match(&record), c.result)
            << "op " << int(c.op) << " left " << c.left << " right " << c.right;
    }
}

TEST_F(SearchTest, KeywordExtraction) {
    {
        Search query;
        query.add(new SN_FindStr("Blue  Moon "), kSearchAnd);
        EXPECT_STREQ(query.takeKeyword().c_str(), "blue");
        ASSERT_EQ(query.root()->kind(), kSearchFindStr);
        EXPECT_STREQ(static_cast<SN_FindStr*>(query.root())->text(), "moon");
        // A keyword already taken is kept.
        EXPECT_STREQ(query.takeKeyword().c_str(), "blue");
        EXPECT_EQ(query.root()->kind(), kSearchFindStr);
    }
    {
        Search query;
        query.add(new SN_FindStr("one"), kSearchAnd);
        EXPECT_STREQ(query.takeKeyword().c_str(), "one");
        EXPECT_EQ(query.root()->kind(), kSearchMatchAll);
    }
    {
        Search query;
        query.add(new SN_IntTagCompare("\x02", 5, kIntGreater), kSearchAnd);
        EXPECT_STREQ(query.takeKeyword().c_str(), "");
        EXPECT_EQ(query.root()->kind(), kSearchIntTag);
    }
    {
        // Three words: the rest becomes (AND word3 word2).
        Search query;
        query.add(new SN_FindStr("a b c"), kSearchAnd);
        EXPECT_STREQ(query.takeKeyword().c_str(), "a");
        ASSERT_EQ(query.root()->kind(), kSearchCompound);
        auto* rest = static_cast<SN_Compound*>(query.root());
        EXPECT_STREQ(static_cast<SN_FindStr*>(rest->left())->text(), "c");
        EXPECT_STREQ(static_cast<SN_FindStr*>(rest->right())->text(), "b");
    }
    {
        // The leftmost text through AND; a used-up left child gives way to
        // the right one.
        Search query;
        query.add(new SN_IntTagCompare("\x02", 5, kIntGreater), kSearchAnd);
        query.add(new SN_FindStr("word"), kSearchAnd);
        query.add(new SN_StrTagCompare("\x03", "audio"), kSearchAnd);
        EXPECT_STREQ(query.takeKeyword().c_str(), "word");
        ASSERT_EQ(query.root()->kind(), kSearchCompound);
        auto* top = static_cast<SN_Compound*>(query.root());
        EXPECT_EQ(top->left()->kind(), kSearchIntTag);
        EXPECT_EQ(top->right()->kind(), kSearchStrTag);
    }
    {
        // OR keeps its words.
        Search query;
        query.add(new SN_FindStr("x"), kSearchAnd);
        query.add(new SN_FindStr("y"), kSearchOr);
        EXPECT_STREQ(query.takeKeyword().c_str(), "");
        EXPECT_EQ(query.root()->kind(), kSearchCompound);
    }
    {
        Search query;
        EXPECT_STREQ(query.takeKeyword().c_str(), "");
        EXPECT_EQ(query.root()->kind(), kSearchMatchAll);
    }
}

TEST_F(SearchTest, WireRoundTripAndLayout) {
    Search query;
    query.add(new SN_FindStr("Moon"), kSearchAnd);
    query.add(new SN_IntTagCompare("\x02", -2, kIntLess), kSearchOr);
    query.add(new SN_StrTagCompare("\x03", "Audio"), kSearchXor);
    query.add(new SN_MatchAll(), kSearchNotAnd);

    std::string bytes = wireOf(query.root());
    std::string expected = std::string("\x00\x04", 2) + std::string("\x00\x03", 2) + std::string("\x00\x01", 2) +
                           std::string("\x01") + encoded("moon") + std::string("\x03\xfe\xff\xff\xff\x02", 6) +
                           encoded("\x02") + std::string("\x02") + encoded("audio") + encoded("\x03") +
                           std::string("\x04");
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(query.wireSize(), static_cast<int>(bytes.size()));

    Search copy;
    i4_ram_file_class file(const_cast<char*>(bytes.data()), bytes.size(), 0);
    ASSERT_TRUE(copy.fromNetwork(&file));
    EXPECT_TRUE(file.atEnd());
    EXPECT_EQ(wireOf(copy.root()), bytes);

    Search empty;
    i4_ram_file_class sink(nullptr, 0, 16);
    EXPECT_FALSE(empty.toNetwork(&sink));
    EXPECT_EQ(empty.wireSize(), 0);
    i4_free(sink.data());
}

TEST_F(SearchTest, WireTextsAreCutAndLowered) {
    std::string text(300, 'Q');
    std::string bytes = std::string("\x02") + encoded(text) + encoded("Tn");
    SearchNode* node = readWire(bytes);
    ASSERT_NE(node, nullptr);
    auto* tagNode = static_cast<SN_StrTagCompare*>(node);
    EXPECT_EQ(std::string(tagNode->text()), std::string(200, 'q'));
    EXPECT_STREQ(tagNode->tagName(), "Tn");
    delete node;
}

TEST_F(SearchTest, BadWireInputFails) {
    std::string findText = std::string("\x01") + encoded("ab");
    const std::vector<std::pair<const char*, std::string>> bad = {
        {"unknown kind", std::string("\x09")},
        {"compound with unknown right kind", std::string("\x00\x00", 2) + findText + "\x09"},
        {"compound without right", std::string("\x00\x00", 2) + findText},
        {"text ends early", std::string("\x01\x05\x00" "ab", 5)},
        {"int tag ends early", std::string("\x03\x01\x00", 3)},
        {"nothing", std::string()},
    };
    for (const auto& [what, bytes] : bad) EXPECT_EQ(readWire(bytes), nullptr) << what;

    // A left-leaning chain of compounds: 64 levels read, 65 do not.
    auto chain = [](int depth) {
        std::string bytes;
        for (int i = 1; i < depth; i++) bytes += std::string("\x00\x00", 2);
        bytes += "\x04";
        for (int i = 1; i < depth; i++) bytes += "\x04";
        return bytes;
    };
    SearchNode* deepest = readWire(chain(kSearchMaxDepth));
    EXPECT_NE(deepest, nullptr);
    delete deepest;
    EXPECT_EQ(readWire(chain(kSearchMaxDepth + 1)), nullptr);

    Search query;
    query.add(new SN_FindStr("x"), kSearchAnd);
    query.setKeyword("k");
    std::string bytes = "\x09";
    i4_ram_file_class file(const_cast<char*>(bytes.data()), bytes.size(), 0);
    EXPECT_FALSE(query.fromNetwork(&file));
    EXPECT_EQ(query.root(), nullptr);
    EXPECT_STREQ(query.keyword().c_str(), "");
}

TEST_F(SearchTest, CompoundLackingAChildIsNotWritten) {
    SN_Compound node(kSearchAnd, new SN_MatchAll(), nullptr);
    EXPECT_EQ(wireOf(&node), "");
}

TEST_F(SearchTest, ReferenceCountDeletesTheTree) {
    Search* query = new Search();
    query->add(new SN_FindStr("x"), kSearchAnd);
    query->addRef();
    query->addRef();
    EXPECT_FALSE(query->release());
    EXPECT_TRUE(query->release());  // ASan reports a leak of the tree otherwise
}

}  // namespace

#include "v4ada/xml/xml_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace {

XMLNode* child_at(XMLNode* node, int index) { return static_cast<XMLNode*>(node->children.at(index)); }

std::string attr(XMLNode* node, const char* name) {
    OwnedString out("unchanged");
    if (!xml_attribute_value(node, name, out)) return "<missing>";
    return out.c_str();
}

TEST(XmlParserTest, BuildsElementsAttributesAndText) {
    XMLParser parser;
    XMLNode* root = parser.parse("<a>\n  <b x=\"1\"/>\n  <c>hi</c>\n</a>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name.c_str(), "a");
    EXPECT_EQ(root->parent, nullptr);
    ASSERT_EQ(root->children.count(), 2);
    XMLNode* b = child_at(root, 0);
    XMLNode* c = child_at(root, 1);
    EXPECT_STREQ(b->name.c_str(), "b");
    EXPECT_EQ(b->parent, root);
    EXPECT_EQ(attr(b, "x"), "1");
    EXPECT_EQ(static_cast<XMLAttr*>(b->attributes.first())->owner, b);
    EXPECT_STREQ(c->name.c_str(), "c");
    EXPECT_STREQ(c->text.c_str(), "hi");
    EXPECT_EQ(parser.error(), nullptr);
}

TEST(XmlParserTest, AttributeValuesDecodeEntitiesAndCharacterReferences) {
    struct Case {
        const char* xml;
        const char* expected;
    } cases[] = {
        {"<a v=\"a&amp;b&#65;\"/>", "a&bA"},
        {"<a v=\"&lt;&gt;&apos;&quot;\"/>", "<>'\""},
        {"<a v=\"&amp;lt;&amp;#66;\"/>", "<B"},  // named entities first, then references
        {"<a v=\"&#321;\"/>", "A"},              // low eight bits
        {"<a v=\"&#;&#65&#x41;&unknown;\"/>", "&#;&#65&#x41;&unknown;"},
        {"<a v=\"\"/>", ""},
        {"<a  v = \"spaced\" />", "spaced"},
        {"<a v \"no equals\"/>", "no equals"},  // white space stands for '='
        {"<a w=\"1\" v=\"two\"/>", "two"},
    };
    for (const Case& c : cases) {
        XMLParser parser;
        XMLNode* root = parser.parse(c.xml);
        ASSERT_NE(root, nullptr) << c.xml << ": " << parser.error();
        EXPECT_EQ(attr(root, "V"), c.expected) << c.xml;
    }
}

TEST(XmlParserTest, MalformedAttributesFailTheParse) {
    const char* cases[] = {
        "<a x='1'/>",              // single quotes
        "<a x=1/>",                // no quotes
        "<a x/>",                  // nothing after the name
        "<a x=\"1/>",              // no closing quote inside the tag
        "<a x=\"1>2\"/>",          // the first '>' ends the tag
        "<a x 'y' z=\"1\"/>",      // the value must follow at once
        "<r><ok/><a x=></a></r>",  // a later error drops what was built
    };
    for (const char* xml : cases) {
        XMLParser parser;
        EXPECT_EQ(parser.parse(xml), nullptr) << xml;
        EXPECT_NE(parser.error(), nullptr) << xml;
    }
}

TEST(XmlParserTest, PrologDoctypeCommentsAndInstructionsAreSkipped) {
    XMLParser parser;
    XMLNode* root = parser.parse(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<!DOCTYPE ui [ <!ENTITY gt \"'>'\"> <!-- > --> ]>\r\n"
        "<!-- skin texts -->\r\n"
        "<ui>\r\n"
        "  <?render fast?>\r\n"
        "  <strings><STRINGS_OK value=\"OK\"/></strings>\r\n"
        "</ui>\r\n");
    ASSERT_NE(root, nullptr) << parser.error();
    EXPECT_STREQ(root->name.c_str(), "ui");
    EXPECT_EQ(attr(xml_child_path(root, 2, "Strings", "strings_ok"), "value"), "OK");

    root = parser.parse("<!--x--><a/>");  // resumes right after the comment
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name.c_str(), "a");
    EXPECT_STREQ(parser.parse("<!-->--><a/>")->name.c_str(), "a");

    // Left open, each of them runs to the end of the text.
    EXPECT_EQ(parser.parse("<!-- <a/>"), nullptr);
    EXPECT_EQ(parser.parse("<?xml <a/>"), nullptr);
    EXPECT_EQ(parser.parse("<!DOCTYPE a [ <a/>"), nullptr);
    EXPECT_EQ(parser.error(), nullptr);
}

TEST(XmlParserTest, CdataAndOtherDeclarationsEndTheParseKeepingTheTree) {
    XMLParser parser;
    XMLNode* root = parser.parse("<a><b/><![CDATA[x]]><c/></a>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->children.count(), 1);
    EXPECT_EQ(parser.parse("<!ELEMENT a ANY><a/>"), nullptr);
}

TEST(XmlParserTest, TextRuns) {
    XMLParser parser;
    XMLNode* root = parser.parse("<a>one<b/>two</a>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->text.c_str(), "two");  // a later run replaces an earlier one

    root = parser.parse("<a> \t\r\n hi &amp; bye \n</a>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->text.c_str(), "hi &amp; bye \n");

    EXPECT_EQ(parser.parse("just text"), nullptr);
    EXPECT_EQ(parser.parse(""), nullptr);
    EXPECT_EQ(parser.parse(nullptr), nullptr);
}

TEST(XmlParserTest, UnbalancedAndUnterminatedTags) {
    XMLParser parser;
    // Extra closing tags leave no current element; the text then belongs to
    // nobody, and a later top-level element is not reachable (but freed).
    XMLNode* root = parser.parse("</x><a>t</a></a></b>lost<c/>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name.c_str(), "a");
    EXPECT_STREQ(root->text.c_str(), "t");
    EXPECT_EQ(root->children.count(), 0);

    // Closing tag names are not checked.
    root = parser.parse("<a><b></x><c/></a>");
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->children.count(), 2);

    // A '<' without '>' makes an element of the rest of the text.
    root = parser.parse("<a><bee");
    ASSERT_NE(root, nullptr);
    ASSERT_EQ(root->children.count(), 1);
    EXPECT_STREQ(child_at(root, 0)->name.c_str(), "bee");
    root = parser.parse("<");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name.c_str(), "");

    // A name ends only at a space, so a line feed stays in it.
    root = parser.parse("<a\nb x=\"1\"/>");
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(root->name.c_str(), "a\nb");
    EXPECT_EQ(attr(root, "x"), "1");
}

TEST(XmlParserTest, LookupsIgnoreCaseAndStopAtMissingSteps) {
    XMLParser parser;
    XMLNode* root = parser.parse("<ui><STRINGS><Item Name=\"first\"/><item name=\"second\"/></STRINGS></ui>");
    ASSERT_NE(root, nullptr);
    XMLNode* strings = root->child("strings");
    ASSERT_NE(strings, nullptr);
    EXPECT_STREQ(strings->name.c_str(), "STRINGS");
    EXPECT_EQ(xml_child_path(root, 3, "Strings", nullptr, "ITEM"), strings->child("item"));
    EXPECT_EQ(attr(xml_child_path(root, 2, "strings", "item"), "NAME"), "first");
    EXPECT_EQ(xml_child_path(root, 2, "missing", "item"), nullptr);
    EXPECT_EQ(xml_child_path(nullptr, 1, "ui"), nullptr);
    EXPECT_EQ(xml_child_path(root, 0), root);
    EXPECT_EQ(root->child("Strings-not"), nullptr);

    OwnedString out("stale");
    EXPECT_FALSE(xml_attribute_value(strings, "name", out));
    EXPECT_STREQ(out.c_str(), "");
    out = "stale";
    EXPECT_FALSE(xml_attribute_value(nullptr, "name", out));
    EXPECT_STREQ(out.c_str(), "");
}

std::string nested(int depth) {
    std::string xml;
    for (int i = 0; i < depth; i++) xml += "<n>";
    xml += "deep";
    for (int i = 0; i < depth; i++) xml += "</n>";
    return xml;
}

TEST(XmlParserTest, NestingDepthIsBounded) {
    XMLParser parser;
    XMLNode* root = parser.parse(nested(kXmlMaxDepth).c_str());
    ASSERT_NE(root, nullptr);
    XMLNode* node = root;
    int depth = 1;
    while (XMLNode* below = node->child("n")) {
        node = below;
        depth++;
    }
    EXPECT_EQ(depth, kXmlMaxDepth);
    EXPECT_STREQ(node->text.c_str(), "deep");

    EXPECT_EQ(parser.parse(nested(kXmlMaxDepth + 1).c_str()), nullptr);
    EXPECT_NE(parser.error(), nullptr);
    EXPECT_EQ(parser.parse(nested(100000).c_str()), nullptr);

    // Siblings do not add up: depth is the nesting, not the element count.
    std::string wide = "<r>";
    for (int i = 0; i < 2 * kXmlMaxDepth; i++) wide += "<a><b/></a>";
    wide += "</r>";
    root = parser.parse(wide.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->children.count(), 2 * kXmlMaxDepth);
}

}  // namespace

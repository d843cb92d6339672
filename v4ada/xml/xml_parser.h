// A small non-validating XML parser: elements (opening, closing and
// self-closing tags), double-quoted attributes with the five named entities
// and decimal character references, comments and text between tags. The
// XML declaration, processing instructions and a document type declaration
// are skipped. Closing tags are not matched against opening ones.
#pragma once

#include <cstddef>

#include "v4ada/containers/ll.h"
#include "v4ada/string/owned_string.h"

// Deepest element nesting accepted; deeper input fails the parse.
constexpr int kXmlMaxDepth = 256;

class XMLNode;

class XMLAttr {
public:
    XMLAttr(const OwnedString& name, const OwnedString& value, XMLNode* owner);
    XMLAttr(const XMLAttr&) = delete;
    XMLAttr& operator=(const XMLAttr&) = delete;
    virtual ~XMLAttr();

    OwnedString name;
    OwnedString value;  // entities already decoded
    XMLNode* owner;
};

class XMLNode {
public:
    explicit XMLNode(XMLNode* parent);
    XMLNode(const XMLNode&) = delete;
    XMLNode& operator=(const XMLNode&) = delete;
    // Destroys the children (recursively) and the attributes.
    virtual ~XMLNode();

    // The first child / attribute of that name, ignoring the case of ASCII
    // letters; null when none.
    XMLNode* child(const char* name);
    XMLAttr* attribute(const char* name);

    OwnedString text;  // the last text run met inside the element
    OwnedString name;
    XMLNode* parent;
    LL children;    // XMLNode*, document order, owned
    LL attributes;  // XMLAttr*, document order, owned
};

class XMLParser {
public:
    XMLParser();
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;
    virtual ~XMLParser();

    // Discards any previous tree and parses the zero-terminated text.
    // Returns the first element, or null when the text is null, holds no
    // element or is malformed (see error()). The parser owns the tree; it
    // stays valid until the parser is destroyed or parses again.
    XMLNode* parse(const char* text);
    // Why the last parse returned no tree although elements were met; null
    // when it did not fail.
    const char* error() const { return error_; }

private:
    bool parseNext();
    bool parseMarkup(size_t after);
    bool parseTag(size_t start, size_t end);
    bool parseAttributes(size_t position, size_t end);
    bool fail(const char* message);
    void discard();

    LL nodes_;  // every XMLNode created, in creation order
    XMLNode* current_;
    int depth_;  // nesting depth of current_ (0 outside any element)
    const char* text_;
    size_t length_;
    size_t position_;
    const char* error_;
};

// Steps down from node through child(name 1), ..., child(name count),
// skipping null names; null as soon as a step finds nothing or node is null.
XMLNode* xml_child_path(XMLNode* node, int count, ...);

// out := the value of the node's attribute and true; "" and false when the
// node is null or has no such attribute.
bool xml_attribute_value(XMLNode* node, const char* name, OwnedString& out);

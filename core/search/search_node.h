// Search nodes: the trees that decide whether a record matches a query.
// A node owns its children. Wire form (little-endian), one kind byte and
// then the kind's fields:
//   0 compound   u8 operator | left node | right node
//   1 find text  text (u16 length + bytes, lower case)
//   2 text tag   text (as kind 1) | tag name (u16 length + bytes)
//   3 int tag    s32 value | u8 operator | tag name (u16 length + bytes)
//   4 match all  nothing
// Texts are compared with the letters A to Z of the record's value taken
// as a to z, so node texts are held in lower case; tag names compare
// exactly.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class Meta;
class MetaTag;
class i4_file;

// Kind bytes.
constexpr uint8_t kSearchCompound = 0;
constexpr uint8_t kSearchFindStr = 1;
constexpr uint8_t kSearchStrTag = 2;
constexpr uint8_t kSearchIntTag = 3;
constexpr uint8_t kSearchMatchAll = 4;
constexpr uint8_t kSearchKindLast = kSearchMatchAll;

// Operators of SN_Compound.
constexpr uint8_t kSearchAnd = 0;      // left and right
constexpr uint8_t kSearchOr = 1;       // left or right
constexpr uint8_t kSearchAndNot = 2;   // left and not right
constexpr uint8_t kSearchXor = 3;      // exactly one
constexpr uint8_t kSearchNotAnd = 4;   // not left and right

// Operators of SN_IntTagCompare: (tag value) op (node value).
constexpr uint8_t kIntEqual = 0;
constexpr uint8_t kIntGreater = 1;
constexpr uint8_t kIntLess = 2;
constexpr uint8_t kIntGreaterEqual = 3;
constexpr uint8_t kIntLessEqual = 4;
constexpr uint8_t kIntNotEqual = 5;

// Texts read from the wire keep at most this many bytes.
constexpr unsigned kSearchTextReadMax = 200;
// Words split off a text for the keyword keep at most this many bytes.
constexpr int kSearchWordMax = 255;
// Deepest tree read from the wire (the root is at depth 1).
constexpr int kSearchMaxDepth = 64;

class SearchNode {
public:
    explicit SearchNode(uint8_t kind) : kind_(kind) {}
    virtual ~SearchNode() = default;
    SearchNode(const SearchNode&) = delete;
    SearchNode& operator=(const SearchNode&) = delete;

    // A copy of the node and its subtree.
    virtual SearchNode* clone() const = 0;
    virtual bool match(Meta* record) = 0;
    // Takes the query's keyword out of the tree when there is one to take
    // (keyword still empty). Returns the node that takes this one's place:
    // this node, a new subtree (this node is then deleted), or null when
    // the node is used up (and deleted).
    virtual SearchNode* extractKeyword(OwnedString& keyword);
    // Writes the kind byte and the fields; false on a failed write or a
    // tree that cannot be written (a compound lacking a child).
    bool toNetwork(i4_file* file);
    // Reads the fields that follow the kind byte.
    bool fromNetwork(i4_file* file) { return readFields(file, 1); }
    virtual int wireSize() const = 0;

    uint8_t kind() const { return kind_; }

    // Reads a kind byte and the node; null for an unknown kind, a tree
    // deeper than kSearchMaxDepth or data that ends early.
    static SearchNode* makeFromNetwork(i4_file* file);

protected:
    friend class SN_Compound;
    virtual bool writeFields(i4_file* file) const = 0;
    // depth: the node's own depth in the tree being read.
    virtual bool readFields(i4_file* file, int depth) = 0;
    static SearchNode* readNode(i4_file* file, int depth);

private:
    uint8_t kind_;
};

class SN_Compound : public SearchNode {
public:
    SN_Compound() : SearchNode(kSearchCompound) {}
    // Takes both children over.
    SN_Compound(uint8_t op, SearchNode* left, SearchNode* right)
        : SearchNode(kSearchCompound), op_(op), left_(left), right_(right) {}
    ~SN_Compound() override;

    SearchNode* clone() const override;
    bool match(Meta* record) override;
    SearchNode* extractKeyword(OwnedString& keyword) override;
    int wireSize() const override;

    uint8_t op() const { return op_; }
    SearchNode* left() const { return left_; }
    SearchNode* right() const { return right_; }

protected:
    bool writeFields(i4_file* file) const override;
    bool readFields(i4_file* file, int depth) override;

private:
    uint8_t op_ = kSearchAnd;
    SearchNode* left_ = nullptr;
    SearchNode* right_ = nullptr;
};

class SN_FindStr : public SearchNode {
public:
    SN_FindStr() : SearchNode(kSearchFindStr) {}
    // The text is held in lower case.
    explicit SN_FindStr(const char* text);

    SearchNode* clone() const override;
    bool match(Meta* record) override;
    SearchNode* extractKeyword(OwnedString& keyword) override;
    int wireSize() const override { return 3 + text_.length(); }

    const char* text() const { return text_.c_str(); }

protected:
    bool writeFields(i4_file* file) const override;
    bool readFields(i4_file* file, int depth) override;

private:
    OwnedString text_;
};

class SN_StrTagCompare : public SearchNode {
public:
    SN_StrTagCompare() : SearchNode(kSearchStrTag) {}
    // The text is held in lower case, as when read from the wire.
    SN_StrTagCompare(const char* tagName, const char* text);

    SearchNode* clone() const override;
    bool match(Meta* record) override;
    int wireSize() const override { return 5 + text_.length() + tagName_.length(); }

    const char* text() const { return text_.c_str(); }
    const char* tagName() const { return tagName_.c_str(); }

protected:
    bool writeFields(i4_file* file) const override;
    bool readFields(i4_file* file, int depth) override;

private:
    OwnedString text_;
    OwnedString tagName_;
};

class SN_IntTagCompare : public SearchNode {
public:
    SN_IntTagCompare() : SearchNode(kSearchIntTag) {}
    SN_IntTagCompare(const char* tagName, int32_t value, uint8_t op);

    SearchNode* clone() const override;
    bool match(Meta* record) override;
    int wireSize() const override { return 8 + tagName_.length(); }

    int32_t value() const { return value_; }
    uint8_t op() const { return op_; }
    const char* tagName() const { return tagName_.c_str(); }

protected:
    bool writeFields(i4_file* file) const override;
    bool readFields(i4_file* file, int depth) override;

private:
    int32_t value_ = 0;
    uint8_t op_ = kIntEqual;
    OwnedString tagName_;
};

class SN_MatchAll : public SearchNode {
public:
    SN_MatchAll() : SearchNode(kSearchMatchAll) {}

    SearchNode* clone() const override { return new SN_MatchAll(); }
    bool match(Meta*) override { return true; }
    int wireSize() const override { return 1; }

protected:
    bool writeFields(i4_file*) const override { return true; }
    bool readFields(i4_file*, int) override { return true; }
};

// Reading a file link: the text of the dllink command, typed at the
// console or fetched from a URL (so it may come from anyone).
//
//   dllink vxt4://|file|<name>|<size in bytes>|<hash>|[s=<source>|][p=<h1>:<h2>...|]
//   dllink vxt4://|server|<address>|[<port>|]
//
// The line is taken token by token: the command word with the
// interpreter's delimiters, then fields separated by '|'. Runs of
// delimiters count as one. Each field has a longest text kept (the rest of
// a longer field is dropped; it never becomes the next field).
//
// The parser is pure: it builds what the command posts or prints and
// touches nothing else, so it can run on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/meta/file_meta.h"

// Longest texts kept of each field.
constexpr size_t kLinkFieldMax = 2047;   // scheme, kind, name, options
constexpr size_t kLinkSizeMax = 99;
constexpr size_t kLinkHashMax = 49;
constexpr size_t kLinkPartHashMax = 39;  // each hash of "p="
constexpr size_t kLinkServerMax = 1023;
constexpr size_t kLinkPortMax = 9;

// The port of a server link without one.
constexpr int kServerLinkPort = 4661;

// The texts of the command, by key with their built-in English.
constexpr const char* kInvalidLinkKey = "invalidVxt4";
constexpr const char* kInvalidLinkText = "This is not a valid vxt4-link.";
constexpr const char* kInvalidLinkSizeKey = "invalidVxt4Size";
constexpr const char* kInvalidLinkSizeText = "Invalid vxt4-link with 0 size.";
constexpr const char* kInvalidLinkHashKey = "invalidVxt4Hash";
constexpr const char* kInvalidLinkHashText = "Invalid hash in vxt4-link.";

// The fetch form: "|f=" followed by a URL whose text is the link.
constexpr const char* kFetchMark = "|f=";

// Splits a text into tokens at a delimiter set that each call names, from
// where the previous call stopped; keeps no state outside the object.
class LinkTokens {
public:
    explicit LinkTokens(const char* text) : text_(text ? text : "") {}
    // The next token, of at most max characters (the rest of a longer one
    // is skipped). False when only delimiters, or nothing, remain.
    bool next(const char* delimiters, size_t max, std::string& out);

private:
    std::string text_;
    size_t at_ = 0;
};

struct ParsedLink {
    enum class Kind {
        kNothing,  // nothing is printed or done
        kMessage,  // print the text of messageKey (default messageText)
        kFile,     // start a download of file, then add each source
        kServer,   // offer the server to the overlay
        kInvalidArguments,
    };
    Kind kind = Kind::kNothing;
    const char* messageKey = nullptr;
    const char* messageText = nullptr;
    // kFile: name, size, file hash and (when given and right) part hashes.
    std::unique_ptr<FileMeta> file;
    // kFile: the texts after "s=", in order.
    std::vector<std::string> sources;
    // kServer: the address text and the IPv4 value read from it, the port.
    std::string serverText;
    uint32_t serverIp = 0;
    int serverPort = 0;
};

// Reads a whole dllink line (the command word first). Never throws.
ParsedLink parseFileLink(const char* line);

// The size field: a decimal number (fractions cut off) of 1 to
// 4,294,967,295 bytes; false for anything else.
bool linkSize(const char* text, uint32_t* size);

// The URL of the fetch form, or "" when the line has none: the text after
// "|f=" up to the next '|'.
std::string fetchUrlOf(const char* line);
// The line a fetched link text stands for: "dllink <text>" without the
// text's trailing line ends and blanks.
std::string fetchedLinkLine(const char* text);

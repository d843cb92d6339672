#include "console/cli/file_link.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "console/cli/command_words.h"
#include "core/meta/special_tags.h"
#include "core/net/ip_text.h"
#include "v4ada/containers/ll.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/md4.h"
#include "v4ada/string/text_convert.h"

namespace {

constexpr const char* kBar = "|";
constexpr const char* kPartHashDelimiter = ":";
constexpr const char* kSourcePrefix = "s=";
constexpr const char* kPartsPrefix = "p=";
constexpr const char* kKindFile = "file";
constexpr const char* kKindServer = "server";
// One past the largest size the protocol carries (sizes are 32-bit).
constexpr double kSizeLimit = 4294967296.0;
constexpr int kLastPort = 65535;

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

ParsedLink message(const char* key, const char* text) {
    ParsedLink link;
    link.kind = ParsedLink::Kind::kMessage;
    link.messageKey = key;
    link.messageText = text;
    return link;
}

// The hashes of "p=", in order, up to the first text that is not one.
void readPartHashes(const std::string& text, std::vector<UniqueID>& out) {
    LinkTokens tokens(text.c_str());
    std::string token;
    while (tokens.next(kPartHashDelimiter, kLinkPartHashMax, token)) {
        UniqueID hash;
        if (token.size() != static_cast<size_t>(kUniqueIdHexDigits) || !hash.fromHex(token.c_str())) break;
        out.push_back(hash);
    }
}

// The part hashes are kept only when there is one per part and together
// they give the file hash: wrong ones would fail every part for ever.
void takePartHashes(FileMeta* file, const std::vector<UniqueID>& hashes) {
    if (hashes.size() < 2 || hashes.size() != file->partCount()) return;
    Md4Context md4;
    for (const UniqueID& hash : hashes) md4.update(hash.bytes(), kUniqueIdSize);
    UniqueID whole;
    md4.final(whole.bytes());
    if (!whole.equals(file->fileHash())) return;
    LL list;
    for (const UniqueID& hash : hashes) list.append(const_cast<UniqueID*>(&hash));
    file->setPartHashes(&list);
    list.clear();
}

ParsedLink parseFile(LinkTokens& tokens) {
    std::string name;
    std::string sizeText;
    std::string hashText;
    if (!tokens.next(kBar, kLinkFieldMax, name)) return message(kInvalidLinkKey, kInvalidLinkText);
    if (!tokens.next(kBar, kLinkSizeMax, sizeText) || !tokens.next(kBar, kLinkHashMax, hashText)) return {};
    if (name.empty() || sizeText.empty() || hashText.empty()) return {};
    uint32_t size = 0;
    if (!linkSize(sizeText.c_str(), &size)) return message(kInvalidLinkSizeKey, kInvalidLinkSizeText);
    UniqueID hash;
    if (hashText.size() != static_cast<size_t>(kUniqueIdHexDigits) || !hash.fromHex(hashText.c_str()))
        return message(kInvalidLinkHashKey, kInvalidLinkHashText);
    urlUnescape(name.data());
    name.resize(std::strlen(name.c_str()));
    // "%00" alone names nothing.
    if (name.empty()) return message(kInvalidLinkKey, kInvalidLinkText);

    ParsedLink link;
    link.kind = ParsedLink::Kind::kFile;
    link.file = std::make_unique<FileMeta>();
    link.file->setSpecial(ST_NAME, name.c_str());
    link.file->setSize(size);
    link.file->setFileHash(hash);
    std::string option;
    while (tokens.next(kBar, kLinkFieldMax, option)) {
        if (startsWith(option, kSourcePrefix)) {
            std::string source = option.substr(std::strlen(kSourcePrefix));
            if (!source.empty()) link.sources.push_back(source);
        } else if (startsWith(option, kPartsPrefix)) {
            std::vector<UniqueID> hashes;
            readPartHashes(option.substr(std::strlen(kPartsPrefix)), hashes);
            takePartHashes(link.file.get(), hashes);
        }
    }
    return link;
}

ParsedLink parseServer(LinkTokens& tokens) {
    std::string address;
    std::string portText;
    ParsedLink link;
    link.kind = ParsedLink::Kind::kInvalidArguments;
    if (!tokens.next(kBar, kLinkServerMax, address) || address.empty()) return link;
    tokens.next(kBar, kLinkPortMax, portText);
    long port = portText.empty() ? kServerLinkPort : std::strtol(portText.c_str(), nullptr, 10);
    uint32_t ip = ipFromText(address.c_str());
    if (ip == 0 || port < 1 || port > kLastPort) return link;
    link.kind = ParsedLink::Kind::kServer;
    link.serverText = address;
    link.serverIp = ip;
    link.serverPort = static_cast<int>(port);
    return link;
}

}  // namespace

bool LinkTokens::next(const char* delimiters, size_t max, std::string& out) {
    size_t start = text_.find_first_not_of(delimiters, at_);
    if (start == std::string::npos) {
        at_ = text_.size();
        return false;
    }
    size_t end = text_.find_first_of(delimiters, start);
    if (end == std::string::npos) end = text_.size();
    out.assign(text_, start, std::min(end - start, max));
    at_ = end;
    return true;
}

bool linkSize(const char* text, uint32_t* size) {
    if (!text) return false;
    double value = std::trunc(std::atof(text));
    // Also false for a text that reads as not-a-number.
    if (!(value >= 1.0 && value < kSizeLimit)) return false;
    *size = static_cast<uint32_t>(value);
    return true;
}

ParsedLink parseFileLink(const char* line) {
    LinkTokens tokens(line);
    std::string word;
    std::string scheme;
    std::string kind;
    if (!tokens.next(CommandWords::kDelimiters, kLinkFieldMax, word)) return {};
    if (!tokens.next(kBar, kLinkFieldMax, scheme) || scheme.empty()) return {};
    if (!tokens.next(kBar, kLinkFieldMax, kind) || kind.empty()) return message(kInvalidLinkKey, kInvalidLinkText);
    if (kind == kKindFile) return parseFile(tokens);
    if (kind == kKindServer) return parseServer(tokens);
    return message(kInvalidLinkKey, kInvalidLinkText);
}

std::string fetchUrlOf(const char* line) {
    if (!line) return "";
    const char* mark = std::strstr(line, kFetchMark);
    if (!mark) return "";
    std::string url(mark + std::strlen(kFetchMark));
    url.resize(std::min(url.find('|'), url.size()));
    return url;
}

std::string fetchedLinkLine(const char* text) {
    std::string link(text ? text : "");
    size_t end = link.find_last_not_of(" \t\r\n");
    link.resize(end == std::string::npos ? 0 : end + 1);
    return "dllink " + link;
}

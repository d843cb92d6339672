#include "downloads/http/http_response.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr std::string_view kStatusPrefix = "HTTP/";
// Longest number taken in a field (sizes here stay far below).
constexpr size_t kMaxDigits = 15;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameNoCase(std::string_view text, std::string_view lowerCase) {
    if (text.size() != lowerCase.size()) return false;
    for (size_t i = 0; i < text.size(); i++) {
        if (lower(text[i]) != lowerCase[i]) return false;
    }
    return true;
}

// Decimal digits only.
bool readNumber(std::string_view text, uint64_t* out) {
    if (text.empty() || text.size() > kMaxDigits) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    *out = value;
    return true;
}

// "HTTP/<version> <3 digits>[ <reason>]".
bool readStatus(std::string_view line, int* status) {
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view rest = line.substr(space);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() < 3 || (rest.size() > 3 && rest[3] != ' ')) return false;
    if (rest[0] < '1' || rest[0] > '5') return false;
    uint64_t value = 0;
    if (!readNumber(rest.substr(0, 3), &value)) return false;
    *status = static_cast<int>(value);
    return true;
}

// "bytes <first>-<last>/<total or *>".
bool readContentRange(std::string_view value, HttpResponseHead* head) {
    if (value.size() < 6 || !sameNoCase(value.substr(0, 5), "bytes") || !isBlank(value[5])) return false;
    value = trimmed(value.substr(5));
    size_t dash = value.find('-');
    size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return false;
    uint64_t first = 0, last = 0, total = 0;
    if (!readNumber(value.substr(0, dash), &first) || !readNumber(value.substr(dash + 1, slash - dash - 1), &last))
        return false;
    std::string_view totalText = value.substr(slash + 1);
    int64_t totalValue = -1;
    if (totalText != "*") {
        if (!readNumber(totalText, &total)) return false;
        totalValue = static_cast<int64_t>(total);
        if (last >= total) return false;
    }
    if (first > last) return false;
    head->rangeFirst = first;
    head->rangeLast = last;
    head->rangeTotal = totalValue;
    return true;
}

// One "name: value" line; false when a field we read is malformed.
bool readField(std::string_view line, HttpResponseHead* head) {
    if (line.empty() || isBlank(line.front())) return true;  // folded lines carry nothing we read
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return true;
    std::string_view name = trimmed(line.substr(0, colon));
    std::string_view value = trimmed(line.substr(colon + 1));
    if (sameNoCase(name, "content-length")) {
        uint64_t length = 0;
        if (!readNumber(value, &length)) return false;
        if (head->contentLength >= 0 && static_cast<uint64_t>(head->contentLength) != length) return false;
        head->contentLength = static_cast<int64_t>(length);
    } else if (sameNoCase(name, "connection")) {
        while (!value.empty()) {
            size_t comma = value.find(',');
            if (sameNoCase(trimmed(value.substr(0, comma)), "close")) head->connectionClose = true;
            value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        }
    } else if (sameNoCase(name, "transfer-encoding")) {
        if (!sameNoCase(value, "identity")) head->otherEncoding = true;
    } else if (sameNoCase(name, "content-range")) {
        head->hasContentRange = true;
        head->rangeValid = readContentRange(value, head);
    } else if (sameNoCase(name, "location")) {
        if (head->location.empty()) head->location.assign(value.data(), value.size());
    }
    return true;
}

}  // namespace

HttpHeadRead readHttpResponseHead(const uint8_t* data, size_t length, HttpResponseHead* head) {
    if (data == nullptr) length = 0;
    length = std::min(length, kHttpMaxHeader);
    std::string_view all(reinterpret_cast<const char*>(data), length);
    size_t start = 0;
    while (start < length && (all[start] == '\r' || all[start] == '\n')) start++;
    size_t have = std::min(length - start, kStatusPrefix.size());
    if (all.substr(start, have) != kStatusPrefix.substr(0, have)) return HttpHeadRead::kMalformed;
    size_t lineEnd = all.find_first_of("\r\n", start);
    if (lineEnd == std::string_view::npos) return HttpHeadRead::kIncomplete;
    HttpResponseHead read;
    if (!readStatus(all.substr(start, lineEnd - start), &read.status)) return HttpHeadRead::kMalformed;

    // The end: a LF followed by an empty line.
    size_t headerEnd = std::string_view::npos;
    for (size_t i = lineEnd; i < length && headerEnd == std::string_view::npos; i++) {
        if (all[i] != '\n') continue;
        if (i + 1 < length && all[i + 1] == '\n') {
            headerEnd = i;
            read.bodyStart = i + 2;
        } else if (i + 2 < length && all[i + 1] == '\r' && all[i + 2] == '\n') {
            headerEnd = i;
            read.bodyStart = i + 3;
        }
    }
    if (headerEnd == std::string_view::npos) return HttpHeadRead::kIncomplete;

    std::string_view fields = all.substr(lineEnd, headerEnd - lineEnd);
    while (!fields.empty()) {
        size_t newline = fields.find('\n');
        std::string_view line = fields.substr(0, newline);
        while (!line.empty() && line.front() == '\r') line.remove_prefix(1);
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!readField(line, &read)) return HttpHeadRead::kMalformed;
        fields = newline == std::string_view::npos ? std::string_view() : fields.substr(newline + 1);
    }
    *head = std::move(read);
    return HttpHeadRead::kComplete;
}

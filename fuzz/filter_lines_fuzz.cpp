// Reads arbitrary bytes as filters.txt, whole and in uneven blocks; both
// must give the same filters, each a non-empty piece of at most 255 bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/filter/filter_lines.h"
#include "core/filter/filter_master.h"

namespace {

std::vector<std::string> read(const char* data, size_t size, size_t block) {
    std::vector<std::string> lines;
    FilterLineReader reader([&](const char* text, int length) {
        if (length <= 0 || length > kFilterPieceMax || static_cast<int>(strlen(text)) != length) std::abort();
        if (memchr(text, '\r', static_cast<size_t>(length)) || memchr(text, '\n', static_cast<size_t>(length)))
            std::abort();
        lines.emplace_back(text, static_cast<size_t>(length));
    });
    for (size_t at = 0; at < size; at += block) reader.feed(data + at, std::min(block, size - at));
    reader.finish();
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    size_t block = size > 0 ? 1 + data[0] % 64 : 1;
    std::vector<std::string> whole = read(text, size, size > 0 ? size : 1);
    if (read(text, size, block) != whole) std::abort();

    FilterMaster filter;
    filter.loadBuffer(text, size);
    if (filter.lineCount() != static_cast<int>(whole.size())) std::abort();
    for (const std::string& line : whole)
        if (!filter.matchesText(line.c_str())) std::abort();
    return 0;
}

// Reads a query tree from arbitrary bytes; a tree that reads must write
// back to exactly its wire size, read again to the same bytes, and take
// its keyword without fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/meta/meta.h"
#include "core/meta/special_tags.h"
#include "core/search/search.h"
#include "core/search/search_node.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    initSpecialTags();
    i4_ram_file_class in(const_cast<uint8_t*>(data), size, 0);
    Search query;
    if (!query.fromNetwork(&in)) return 0;

    i4_ram_file_class out(nullptr, 0, 256);
    if (!query.toNetwork(&out)) std::abort();
    if (out.size() != static_cast<i4_pos>(query.wireSize())) std::abort();

    Search again;
    out.seek(0);
    if (!again.fromNetwork(&out)) std::abort();
    i4_ram_file_class second(nullptr, 0, 256);
    if (!again.toNetwork(&second) || second.size() != out.size() ||
        std::memcmp(second.data(), out.data(), out.size()) != 0)
        std::abort();
    i4_free(second.data());
    i4_free(out.data());

    Meta record;
    int32_t value = 7;
    record.addTag(MetaTag::makeTag(kTagString, "title", "Blue Moon"));
    record.addTag(MetaTag::makeTag(kTagInt, "bitrate", &value));
    query.root()->match(&record);
    SearchNode* copy = query.root()->clone();
    copy->match(&record);
    delete copy;
    query.takeKeyword();
    if (!query.root()) std::abort();
    query.root()->match(&record);
    return 0;
}

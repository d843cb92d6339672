// Reads dllink lines from arbitrary text (a fetched link comes from
// anyone): the parser never fails, a file link carries a name, a size of
// 1 to 4,294,967,295 bytes and only non-empty sources, part hashes only
// when they give the file hash, and a server link a usable address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "console/cli/file_link.h"
#include "core/meta/special_tags.h"
#include "v4ada/digest/md4.h"
#include "v4ada/file/debug_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);
    ParsedLink link = parseFileLink(line.c_str());
    switch (link.kind) {
        case ParsedLink::Kind::kFile: {
            FileMeta* file = link.file.get();
            if (!file || file->size() == 0 || file->name()[0] == 0) __builtin_trap();
            for (const std::string& source : link.sources)
                if (source.empty()) __builtin_trap();
            if (file->partHashesComplete() && file->partCount() >= 2) {
                Md4Context md4;
                for (uint32_t i = 0; i < file->partCount(); i++) md4.update(file->partHash(i), kUniqueIdSize);
                UniqueID whole;
                md4.final(whole.bytes());
                if (!whole.equals(file->fileHash())) __builtin_trap();
            }
            break;
        }
        case ParsedLink::Kind::kServer:
            if (link.serverIp == 0 || link.serverPort < 1 || link.serverPort > 65535) __builtin_trap();
            break;
        case ParsedLink::Kind::kMessage:
            if (!link.messageKey || !link.messageText) __builtin_trap();
            break;
        default:
            if (link.file) __builtin_trap();
            break;
    }
    fetchUrlOf(line.c_str());
    fetchedLinkLine(line.c_str());
    return 0;
}

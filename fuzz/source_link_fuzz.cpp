// Reads source links from arbitrary text: a link that is taken names a
// usable user (an address and port, or a user hash with its buddy's
// address and port); a refused one leaves the record untouched.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/meta/special_tags.h"
#include "core/meta/user_meta.h"
#include "downloads/source_link.h"
#include "v4ada/file/debug_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    initSpecialTags();
    set_debug_output(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    UserMeta user;
    user.setPort(7);
    if (!parseSourceLinkText(text.c_str(), user)) {
        if (user.port() != 7) __builtin_trap();
        return 0;
    }
    bool direct = user.ip() != 0 && user.port() != 0 && user.userHash().isZero();
    bool buddy = user.ip() == 0 && user.port() == 0 && user.buddyIp() != 0 && user.buddyPort() != 0;
    if (direct == buddy) __builtin_trap();
    return 0;
}

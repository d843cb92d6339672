// Reads arbitrary "loc" texts as location links: a link that reads has an
// address and a port in range, and writing it back in its form reads to
// the same link.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "overlay/index/location_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // up to the first NUL, as a tag's text is
    LocationLink link;
    if (!parseLocationLink(text.c_str(), &link)) return 0;
    if (link.ip == 0 || link.port < 1 || link.port > 65535) std::abort();
    OwnedString again = link.buddyForm ? buddyLocationLink(link.userId, link.ip, link.port)
                                       : openLocationLink(link.ip, link.port);
    LocationLink reread;
    if (!parseLocationLink(again.c_str(), &reread)) std::abort();
    if (reread.buddyForm != link.buddyForm || reread.ip != link.ip || reread.port != link.port ||
        !reread.userId.equals(link.userId))
        std::abort();
    return 0;
}

#include "downloads/http/http_protocol.h"

#include <cstring>

#include "downloads/http/http_source.h"
#include "downloads/source_link.h"

HttpProtocol::~HttpProtocol() = default;

OtherSourceInterface* HttpProtocol::makeSource(DownloadInterface* download, const char* text) {
    if (download == nullptr || matchScheme("http", text) == 0 || std::strncmp(text + 5, "//", 2) != 0) return nullptr;
    if (::strnlen(text, kSourceLinkMax + 1) > static_cast<size_t>(kSourceLinkMax)) return nullptr;
    return new HttpSource(download, text);
}

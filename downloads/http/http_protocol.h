// HttpProtocol: makes an HttpSource of every link that begins "http://".
#pragma once

#include "downloads/http/protocol_interface.h"

class HttpProtocol final : public ProtocolInterface {
public:
    HttpProtocol() = default;
    ~HttpProtocol() override;

    // A new HttpSource for a text that begins exactly "http://" (and is at
    // most kSourceLinkMax long); else null.
    OtherSourceInterface* makeSource(DownloadInterface* download, const char* text) override;
};

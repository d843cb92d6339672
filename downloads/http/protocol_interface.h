// ProtocolInterface: a kind of download source that is not a peer, made
// from a source link by a protocol object (such as HttpProtocol). The
// protocol list (ProtocolList) offers each link to its protocols in order.
#pragma once

class DownloadInterface;
class OtherSourceInterface;

class ProtocolInterface {
public:
    virtual ~ProtocolInterface() = default;
    // A new source of the download for the link text, owned by the caller,
    // or null when the text is not this protocol's. Task thread.
    virtual OtherSourceInterface* makeSource(DownloadInterface* download, const char* text) = 0;
};

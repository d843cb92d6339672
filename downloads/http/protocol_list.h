// ProtocolList: the link protocols, in the order links are offered to
// them. The transfer hub keeps the process's list (with its one
// HttpProtocol) and installs it as the downloads' link-source factory, so
// a download adding a link that is not a location link asks it.
#pragma once

#include <memory>
#include <vector>

#include "downloads/source_factories.h"
#include "v4ada/threads/linux/sys_mutex.h"

class DownloadInterface;
class FileSourceInterface;
class ProtocolInterface;

class ProtocolList final : public LinkSourceFactory {
public:
    ProtocolList() = default;
    // Deletes the protocols.
    ~ProtocolList();
    ProtocolList(const ProtocolList&) = delete;
    ProtocolList& operator=(const ProtocolList&) = delete;

    // Takes the protocol over and puts it last.
    void append(ProtocolInterface* protocol);
    // Deletes every protocol.
    void clear();
    int count();

    // makeOtherSource over this list.
    FileSourceInterface* makeLinkSource(DownloadInterface* download, const char* link) override;

private:
    friend FileSourceInterface* makeOtherSource(ProtocolList* list, DownloadInterface* download, const char* text);

    SysMutex lock_;
    std::vector<std::unique_ptr<ProtocolInterface>> protocols_ TS_GUARDED_BY(lock_);
};

// Each protocol's makeSource in list order; the first source made comes
// wrapped in a new OtherFileSource (owned by the caller); null when no
// protocol takes the text.
FileSourceInterface* makeOtherSource(ProtocolList* list, DownloadInterface* download, const char* text);

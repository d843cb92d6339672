#include "downloads/http/protocol_list.h"

#include "downloads/http/other_file_source.h"
#include "downloads/http/protocol_interface.h"

ProtocolList::~ProtocolList() = default;

void ProtocolList::append(ProtocolInterface* protocol) {
    if (protocol == nullptr) return;
    SysMutexGuard guard(&lock_);
    protocols_.emplace_back(protocol);
}

void ProtocolList::clear() {
    std::vector<std::unique_ptr<ProtocolInterface>> gone;
    SysMutexGuard guard(&lock_);
    gone.swap(protocols_);
}

int ProtocolList::count() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(protocols_.size());
}

FileSourceInterface* ProtocolList::makeLinkSource(DownloadInterface* download, const char* link) {
    return makeOtherSource(this, download, link);
}

FileSourceInterface* makeOtherSource(ProtocolList* list, DownloadInterface* download, const char* text) {
    if (list == nullptr || text == nullptr) return nullptr;
    SysMutexGuard guard(&list->lock_);
    for (auto& protocol : list->protocols_) {
        if (OtherSourceInterface* source = protocol->makeSource(download, text))
            return new OtherFileSource(download, source);
    }
    return nullptr;
}

#include "downloads/sources/peer_sources.h"

#include "downloads/sources/file_source.h"
#include "downloads/sources/source_list.h"

namespace {
FileSourceFactory* gFactory = nullptr;
}  // namespace

FileSourceInterface* FileSourceFactory::makePeerSource(Download* download, const UserMeta& user,
                                                       SourcePeer* connection) {
    if (download == nullptr) return nullptr;
    return new FileSource(user, download, connection);
}

void installPeerSources() {
    SourceList::createInstance();
    if (gFactory) return;
    gFactory = new FileSourceFactory();
    setPeerSourceFactory(gFactory);
}

void uninstallPeerSources() {
    if (peerSourceFactory() == gFactory) setPeerSourceFactory(nullptr);
    delete gFactory;
    gFactory = nullptr;
    SourceList::destroyInstance();
}

// The peer sources of the downloads: FileSource is made for every user a
// download learns of, through the peer-source factory that start-up
// installs here together with the asked-source list.
#pragma once

#include "downloads/source_factories.h"

class FileSourceFactory final : public PeerSourceFactory {
public:
    // A new FileSource (owned by the caller).
    FileSourceInterface* makePeerSource(Download* download, const UserMeta& user, SourcePeer* connection) override;
};

// Start-up: the asked-source list is made and a FileSourceFactory becomes
// the peer-source factory. Keeps what is installed.
void installPeerSources();
// Shutdown, once no download is left: both go again.
void uninstallPeerSources();

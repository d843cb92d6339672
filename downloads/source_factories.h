// Where a download's new sources come from. The download side defines
// only the interface of a source (FileSourceInterface); the kinds live
// elsewhere and are installed here at start-up:
// - peer sources (a user, possibly with its connection) by the peer
//   sources' factory;
// - link sources (texts that are not location links, such as "http://"
//   URLs) by the protocol list.
// With a factory absent, nothing of that kind is made. Tests install
// fakes and uninstall them with null.
#pragma once

class Download;
class DownloadInterface;
class FileSourceInterface;
class SourcePeer;
class UserMeta;

class PeerSourceFactory {
public:
    // A new source of the download for a copy of the user's record, with
    // its connection or null; owned by the caller. Task thread, under the
    // download's lock.
    virtual FileSourceInterface* makePeerSource(Download* download, const UserMeta& user, SourcePeer* connection) = 0;

protected:
    ~PeerSourceFactory() = default;
};

class LinkSourceFactory {
public:
    // A new source for the link text, or null when no protocol takes it;
    // owned by the caller. Task thread, under the download's lock.
    virtual FileSourceInterface* makeLinkSource(DownloadInterface* download, const char* link) = 0;

protected:
    ~LinkSourceFactory() = default;
};

// The installed factories, or null. Any thread.
PeerSourceFactory* peerSourceFactory();
LinkSourceFactory* linkSourceFactory();
// Each returns the previous one; null uninstalls. Not owned.
PeerSourceFactory* setPeerSourceFactory(PeerSourceFactory* factory);
LinkSourceFactory* setLinkSourceFactory(LinkSourceFactory* factory);

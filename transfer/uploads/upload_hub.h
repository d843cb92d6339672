// What the uploads need of the transfer hub beyond the shared files (which
// they look up through the peer protocol's PeerShares): the count of bytes
// uploaded per file, and whether the hashing thread has gone through every
// shared directory. The hub implements it and start-up installs it; while
// none is installed nothing is counted and only the queues of files
// already shared are served.
#pragma once

#include <cstdint>

class UniqueID;

class UploadHub {
public:
    // An upload of the file ended after sending that many bytes ("# Sent").
    // Task thread.
    virtual void addSent(const UniqueID& hash, uint64_t bytes) = 0;
    // The hashing thread has finished every shared directory. Any thread.
    virtual bool allHashed() = 0;

protected:
    ~UploadHub() = default;
};

// The installed hub, or null. Any thread.
UploadHub* uploadHub();
// Returns the previous one; null uninstalls. Not owned.
UploadHub* setUploadHub(UploadHub* hub);

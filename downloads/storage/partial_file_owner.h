// PartialFileOwner: what a partial file needs of the download that owns
// it (implemented by Download). Called on the task thread only.
#pragma once

class DLProgress;

class PartialFileOwner {
public:
    // The download's range chooser; told of verified and failed crumbs.
    virtual DLProgress* progress() = 0;
    // Download priority 0 to 3, stored in the record.
    virtual int priority() const = 0;
    // Whether the download is paused, stored in the record.
    virtual bool isPaused() const = 0;

protected:
    ~PartialFileOwner() = default;
};

// SharedHashProvider: what the overlay asks when it publishes every shared
// file again: the hash of every shared file. The transfer hub implements
// it and start-up installs it; with none installed nothing is republished.
#pragma once

#include <vector>

#include "v4ada/containers/unique_id.h"

class SharedHashProvider {
public:
    // Task thread.
    virtual std::vector<UniqueID> sharedHashes() = 0;

protected:
    ~SharedHashProvider() = default;
};

// The installed provider, or null. Any thread.
SharedHashProvider* sharedHashProvider();
// Returns the previous one; null uninstalls. Not owned.
SharedHashProvider* setSharedHashProvider(SharedHashProvider* provider);

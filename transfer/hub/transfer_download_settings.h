// TransferDownloadSettings: the download storage's settings, read from the
// transfer options (any thread); without them the directories are null
// texts and a corrupt download is kept.
#pragma once

#include "downloads/storage/download_services.h"

class TransferDownloadSettings : public DownloadSettings {
public:
    OwnedString tempDir() const override;
    OwnedString incomingDir() const override;
    bool saveCorrupt() const override;
    // "resHD" in bytes; the default reserve without transfer options.
    uint64_t reserveBytes() const override;
};

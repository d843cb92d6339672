#include "transfer/hub/transfer_download_settings.h"

#include "transfer/options/transfer_options.h"

namespace {

// One trailing '/' goes (the root stays "/").
OwnedString withoutTrailingSlash(OwnedString path) {
    int length = path.length();
    if (length > 1 && path.c_str()[length - 1] == '/') path.truncate(length - 1);
    return path;
}

}  // namespace

OwnedString TransferDownloadSettings::tempDir() const {
    TransferOptions* options = transferOptions();
    return options ? withoutTrailingSlash(options->tempDir()) : OwnedString(static_cast<const char*>(nullptr));
}

OwnedString TransferDownloadSettings::incomingDir() const {
    TransferOptions* options = transferOptions();
    return options ? withoutTrailingSlash(options->incomingDir()) : OwnedString(static_cast<const char*>(nullptr));
}

uint64_t TransferDownloadSettings::reserveBytes() const {
    TransferOptions* options = transferOptions();
    if (!options) return kDefaultReserveBytes;
    int64_t bytes = options->reserveBytes();
    return bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
}

bool TransferDownloadSettings::saveCorrupt() const {
    TransferOptions* options = transferOptions();
    return !options || options->saveCor() != 0;
}

#include "downloads/storage/download_services.h"

#include "v4ada/file/fs.h"

namespace {
// Plain pointers only: constant-initialised, no constructor runs.
DownloadServices gServices;
}  // namespace

DownloadServices& downloadServices() { return gServices; }

void resetDownloadServices() { gServices = DownloadServices{}; }

uint64_t DownloadSettings::reserveBytes() const { return kDefaultReserveBytes; }

uint64_t DownloadSettings::freeSpace(const char* path, bool* queried) const { return fs_free_space(path, queried); }

bool SharedFilesSink::contains(const UniqueID&) { return false; }

void UploadSide::pauseFile(const UniqueID&, bool) {}

void UploadSide::removePriorityUser(const UserMeta&) {}

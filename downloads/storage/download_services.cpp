#include "downloads/storage/download_services.h"

namespace {
// Plain pointers only: constant-initialised, no constructor runs.
DownloadServices gServices;
}  // namespace

DownloadServices& downloadServices() { return gServices; }

void resetDownloadServices() { gServices = DownloadServices{}; }

void UploadSide::pauseFile(const UniqueID&, bool) {}

void UploadSide::removePriorityUser(const UserMeta&) {}

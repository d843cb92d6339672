#include "transfer/uploads/upload_hub.h"

#include <atomic>

namespace {
std::atomic<UploadHub*> gHub{nullptr};
}  // namespace

UploadHub* uploadHub() { return gHub.load(); }

UploadHub* setUploadHub(UploadHub* hub) { return gHub.exchange(hub); }

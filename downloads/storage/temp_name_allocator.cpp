#include "downloads/storage/temp_name_allocator.h"

#include <cerrno>
#include <sys/stat.h>

#include "downloads/storage/part_met.h"
#include "v4ada/file/fs.h"

namespace {

bool taken(const OwnedString& path) {
    struct stat record;
    // Anything there, or a name that cannot be checked, is taken.
    return ::lstat(path.c_str(), &record) == 0 || errno != ENOENT;
}

}  // namespace

OwnedString TempNameAllocator::allocate(const char* directory, const char* extension) {
    if (extension == nullptr) extension = kPartExtension;
    SysMutexGuard guard(&mutex_);
    OwnedString path;
    OwnedString other;
    while (counter_ < UINT32_MAX) {
        counter_++;
        path.format("%s%c%u%s", directory, '/', counter_, extension);
        if (taken(path)) continue;
        other.format("%s%s", path.c_str(), kPartMetExtension);
        if (taken(other)) continue;
        other.format("%s%s.bak", path.c_str(), kPartMetExtension);
        if (taken(other)) continue;
        OwnedString name;
        name.format("%u%s", counter_, extension);
        return name;
    }
    return OwnedString(static_cast<const char*>(nullptr));
}

void TempNameAllocator::reset() {
    SysMutexGuard guard(&mutex_);
    counter_ = 0;
}

#include "downloads/storage/temp_name_allocator.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "core/ui/ui_gateway.h"
#include "downloads/storage/part_met.h"
#include "v4ada/file/fs.h"

namespace {

// 0 when nothing of that name exists, EEXIST when something does, or the
// error that kept the name from being checked.
int probe(const OwnedString& path) {
    struct stat record;
    if (::lstat(path.c_str(), &record) == 0) return EEXIST;
    return errno == ENOENT ? 0 : (errno == 0 ? EIO : errno);
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
        int status = probe(path);
        if (status == 0) {
            other.format("%s%s", path.c_str(), kPartMetExtension);
            status = probe(other);
        }
        if (status == 0) {
            other.format("%s%s.bak", path.c_str(), kPartMetExtension);
            status = probe(other);
        }
        if (status == EEXIST) continue;
        if (status != 0) {
            // A directory that cannot be searched answers every name alike:
            // trying the next number would only spin.
            if (UIGateway* out = currentUI()) out->printRaw("ERROR: %s: %s\n", directory, std::strerror(status));
            return OwnedString(static_cast<const char*>(nullptr));
        }
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

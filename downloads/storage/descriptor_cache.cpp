#include "downloads/storage/descriptor_cache.h"

#include <cerrno>
#include <fcntl.h>
#include <vector>

#include "v4ada/file/unix_file.h"

namespace {
constexpr mode_t kFileMode = 0666;  // under the umask, as fs_open makes files
}  // namespace

DescriptorCache::DescriptorCache(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}

DescriptorCache::~DescriptorCache() = default;

FileHandle DescriptorCache::open(const std::string& path, bool create) {
    {
        SysMutexGuard guard(&mutex_);
        auto found = entries_.find(path);
        if (found != entries_.end()) {
            ages_.splice(ages_.begin(), ages_, found->second.age);
            return found->second.file;
        }
    }
    // Opened outside the lock: open may take long on a slow disk.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    FileHandle file = std::make_shared<i4_unix_file_class>(fd);

    std::vector<FileHandle> evicted;  // closed after the lock is released
    SysMutexGuard guard(&mutex_);
    auto found = entries_.find(path);
    if (found != entries_.end()) {
        // Another thread opened it meanwhile: use one descriptor.
        ages_.splice(ages_.begin(), ages_, found->second.age);
        return found->second.file;
    }
    ages_.push_front(path);
    entries_.emplace(path, Entry{file, ages_.begin()});
    while (entries_.size() > capacity_) {
        auto oldest = entries_.find(ages_.back());
        evicted.push_back(std::move(oldest->second.file));
        entries_.erase(oldest);
        ages_.pop_back();
    }
    return file;
}

bool DescriptorCache::forget(const std::string& path) {
    FileHandle dropped;
    SysMutexGuard guard(&mutex_);
    auto found = entries_.find(path);
    if (found == entries_.end()) return false;
    dropped = found->second.file;  // closed after the lock is released
    ages_.erase(found->second.age);
    entries_.erase(found);
    return true;
}

size_t DescriptorCache::size() const {
    SysMutexGuard guard(&mutex_);
    return entries_.size();
}

// DescriptorCache: the open part files of every download, bounded. A part
// file stays open between writes, reads and checks; when more are open
// than the bound, the least recently used is let go. A handle keeps its
// descriptor open while someone uses it, even after the cache let go.
//
// Any thread.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

#include "v4ada/threads/linux/sys_mutex.h"

class i4_unix_file_class;

using FileHandle = std::shared_ptr<i4_unix_file_class>;

class DescriptorCache {
public:
    // A 4 GiB download has 442 parts; the default leaves room for more
    // than one such download while staying well inside the usual limit of
    // 1,024 descriptors.
    static constexpr size_t kDefaultCapacity = 512;

    explicit DescriptorCache(size_t capacity = kDefaultCapacity);
    ~DescriptorCache();
    DescriptorCache(const DescriptorCache&) = delete;
    DescriptorCache& operator=(const DescriptorCache&) = delete;

    // The path's file open for reading and writing; created when missing
    // only with create. Null when it cannot be opened (errno tells why).
    FileHandle open(const std::string& path, bool create);
    // Lets go of the path's descriptor (closed once no handle is left);
    // false when the cache held none.
    bool forget(const std::string& path);
    // Descriptors held by the cache itself.
    size_t size() const;
    size_t capacity() const { return capacity_; }

private:
    struct Entry {
        FileHandle file;
        std::list<std::string>::iterator age;
    };

    size_t capacity_;
    mutable SysMutex mutex_;
    // Most recently used first.
    std::list<std::string> ages_ TS_GUARDED_BY(mutex_);
    std::unordered_map<std::string, Entry> entries_ TS_GUARDED_BY(mutex_);
};

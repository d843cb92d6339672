#include "console/remote/handle_table.h"

uint32_t HandleTable::idFor(const void* object) {
    if (!object) return 0;
    SysMutexGuard guard(&lock_);
    auto found = ids_.find(object);
    if (found != ids_.end()) return found->second;
    // 2^32 - 1 objects in one process are not expected; past them the
    // count would wrap to 0, which means "none", so it stays at the last.
    if (last_ < UINT32_MAX) last_++;
    ids_.emplace(object, last_);
    return last_;
}

uint32_t HandleTable::find(const void* object) {
    SysMutexGuard guard(&lock_);
    auto found = ids_.find(object);
    return found == ids_.end() ? 0 : found->second;
}

void HandleTable::drop(const void* object) {
    SysMutexGuard guard(&lock_);
    ids_.erase(object);
}

int HandleTable::count() {
    SysMutexGuard guard(&lock_);
    return static_cast<int>(ids_.size());
}

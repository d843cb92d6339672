#include "overlay/index/shared_hash_provider.h"

#include <atomic>

namespace {
std::atomic<SharedHashProvider*> gProvider{nullptr};
}  // namespace

SharedHashProvider* sharedHashProvider() { return gProvider.load(); }

SharedHashProvider* setSharedHashProvider(SharedHashProvider* provider) { return gProvider.exchange(provider); }

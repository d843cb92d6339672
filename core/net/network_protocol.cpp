#include "core/net/network_protocol.h"

#include <mutex>

#include "v4ada/net/protocol.h"

namespace {
// Both constant-initialised; the holder is allocated while a protocol is
// installed and freed when it is removed, so nothing runs at exit.
std::mutex g_lock;
std::shared_ptr<i4_protocol>* g_holder = nullptr;
}  // namespace

std::shared_ptr<i4_protocol> networkProtocol() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_holder != nullptr ? *g_holder : nullptr;
}

std::shared_ptr<i4_protocol> installNetworkProtocol(std::shared_ptr<i4_protocol> protocol) {
    std::shared_ptr<i4_protocol> previous;
    std::shared_ptr<i4_protocol>* freed = nullptr;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_holder != nullptr) previous = std::move(*g_holder);
        if (protocol) {
            if (g_holder == nullptr) g_holder = new std::shared_ptr<i4_protocol>();
            *g_holder = std::move(protocol);
        } else {
            freed = g_holder;
            g_holder = nullptr;
        }
    }
    delete freed;
    return previous;
}

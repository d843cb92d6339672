#include "overlay/index/service_publisher.h"

#include <cstring>
#include <vector>

#include "overlay/gateway/flock_gateway.h"
#include "overlay/requests/publish_requester.h"
#include "v4ada/file/ram_file.h"

namespace {

// The tags in their wire form, for telling whether two services differ.
std::vector<uint8_t> tagBytes(Service& service) {
    std::vector<uint8_t> bytes(static_cast<size_t>(service.Meta::wireSize()));
    i4_ram_file_class out(bytes.data(), static_cast<i4_pos>(bytes.size()), 0);
    out.seek(0);
    service.Meta::toNetwork(&out);
    return bytes;
}

}  // namespace

ServicePublisher::Key ServicePublisher::keyOf(const Service& service) {
    Key key;
    std::memcpy(key.data(), service.serviceId.bytes(), kUniqueIdSize);
    std::memcpy(key.data() + kUniqueIdSize, service.descId.bytes(), kUniqueIdSize);
    return key;
}

ServicePublisher::Entries::iterator ServicePublisher::publishedAt(const Service& service) {
    auto found = index_.find(keyOf(service));
    return found != index_.end() ? found->second : published_.end();
}

PublishService* ServicePublisher::findPublished(const UniqueID& serviceId, const UniqueID& descId) {
    Service probe;
    probe.serviceId.copy(serviceId);
    probe.descId.copy(descId);
    auto at = publishedAt(probe);
    return at != published_.end() ? at->get() : nullptr;
}

void ServicePublisher::unlinkPublished(Entries::iterator at) {
    index_.erase(keyOf(**at));
    published_.erase(at);
}

void ServicePublisher::add(const Service& service, bool front, double factor) {
    auto entry = std::make_unique<PublishService>();
    entry->assign(service);
    entry->interval = static_cast<int32_t>(factor * kPublishIntervalSeconds);
    if (front)
        queue_.push_front(std::move(entry));
    else
        queue_.push_back(std::move(entry));
}

void ServicePublisher::startRequester(const Service& service) {
    if (!gateway_.running() || gateway_.stopping()) return;
    (new PublishRequester(gateway_, service, kPublishWanted))->start();
}

void ServicePublisher::publishNow(PublishService* service) {
    std::unique_ptr<PublishService> incoming(service);
    auto at = publishedAt(*incoming);
    if (at != published_.end()) {
        PublishService& published = **at;
        bool changed = tagBytes(published) != tagBytes(*incoming);
        int64_t stamp = published.stamp;
        published.assign(*incoming);
        published.interval = incoming->interval;
        if (changed) {
            // New tags must not wait for the interval of the old ones.
            published.stamp = serviceClockNow();
            startRequester(published);
        } else {
            published.stamp = stamp;
        }
        return;
    }
    incoming->stamp = serviceClockNow();
    startRequester(*incoming);
    published_.push_back(std::move(incoming));
    index_[keyOf(*published_.back())] = std::prev(published_.end());
}

void ServicePublisher::remove(const Service& service) {
    auto at = publishedAt(service);
    if (at != published_.end()) unlinkPublished(at);
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if ((*it)->serviceId.equals(service.serviceId) && (*it)->descId.equals(service.descId)) {
            queue_.erase(it);
            break;
        }
    }
}

void ServicePublisher::markForRepublish(const Service& service) {
    auto at = publishedAt(service);
    // Stamps count monotonic seconds, which may be fewer than an interval:
    // "long ago" is an interval and a second before now.
    if (at != published_.end()) (*at)->stamp = serviceClockNow() - (*at)->interval - 1;
}

void ServicePublisher::relocate(const char* link, const UniqueID& ownId) {
    auto isLocation = [&](Service& s) { return s.descId.equals(ownId) && s.textOf("loc") != nullptr; };
    auto changeLink = [&](Service& s) {
        const char* old = s.textOf("loc");
        if (old != nullptr && std::strcmp(old, link) == 0) return false;
        s.set("loc", link, kTagString);
        return true;
    };
    for (auto& entry : queue_)
        if (isLocation(*entry)) changeLink(*entry);
    Entries moved;
    for (auto it = published_.begin(); it != published_.end();) {
        auto next = std::next(it);
        if (isLocation(**it) && changeLink(**it)) {
            index_.erase(keyOf(**it));
            moved.splice(moved.end(), published_, it);
        }
        it = next;
    }
    // Ahead of everything waiting, in the order they were published.
    queue_.splice(queue_.begin(), moved);
}

bool ServicePublisher::tick(int elapsedMs) {
    if (gateway_.firewallStatus() != NetworkGateway::kUnknown) {
        stepElapsed_ += elapsedMs;
        if (stepElapsed_ > step_) {
            stepElapsed_ = 0;
            if (!queue_.empty()) {
                PublishService* head = queue_.front().release();
                queue_.pop_front();
                publishNow(head);
            }
        }
    }
    checkElapsed_ += elapsedMs;
    if (checkElapsed_ > kRepublishCheckMs) {
        checkElapsed_ = 0;
        int64_t now = serviceClockNow();
        for (auto it = published_.begin(); it != published_.end();) {
            auto next = std::next(it);
            if (now - (*it)->stamp > (*it)->interval) {
                index_.erase(keyOf(**it));
                queue_.splice(queue_.end(), published_, it);
            }
            it = next;
        }
    }
    return false;
}

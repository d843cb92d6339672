// ServicePublisher: publishes the own services (keywords and locations of
// shared files, the buddy record) to the four nodes nearest their key. It
// keeps a queue of services waiting to go out and sends the head of it one
// per step (1000 ms unless the console's delay command sets another),
// remembers what it published, and every 10 minutes queues again each
// published service whose interval has passed (factor x 5 hours: 5 hours
// for keywords and the buddy record, 2 hours for locations). Nothing is
// sent while the firewall test has no verdict yet.
//
// A service published again while it is published only takes the new
// tags and interval; when its tags differ it goes out at once. A changed
// location link goes into every location service, which goes out again.
//
// Task thread only.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <memory>

#include "core/task/time_slice_task.h"
#include "overlay/index/service.h"

class FlockGateway;

constexpr int kPublishStepMs = 1000;
constexpr int kRepublishCheckMs = 600000;
// The interval of factor 1.0, in seconds.
constexpr int kPublishIntervalSeconds = 300 * 60;
// Nodes a service is published to.
constexpr int kPublishWanted = 4;

class PublishService : public Service {
public:
    int32_t interval = 0;  // seconds between two publishes
};

class ServicePublisher : public TimeSliceTask {
public:
    explicit ServicePublisher(FlockGateway& gateway) : gateway_(gateway) {}
    ~ServicePublisher() = default;
    ServicePublisher(const ServicePublisher&) = delete;
    ServicePublisher& operator=(const ServicePublisher&) = delete;

    // A copy of the service (tags, identifiers, stamp) with interval
    // factor x 18000 s (truncated) joins the queue, at its head when front.
    void add(const Service& service, bool front, double factor);
    // Sends the service now, or refreshes the published one with the same
    // identifiers (ownership passes).
    void publishNow(PublishService* service);
    // The published and the queued entry with the same identifiers go.
    void remove(const Service& service);
    // The published entry with the same identifiers is due at the next
    // check.
    void markForRepublish(const Service& service);
    // Every location service (descId the own identifier, with a "loc" tag)
    // takes the link; those already published go out again first.
    void relocate(const char* link, const UniqueID& ownId);
    bool tick(int elapsedMs) override;

    void setStep(int ms) { step_ = ms; }
    int step() const { return step_; }
    int publishedCount() const { return static_cast<int>(published_.size()); }
    int queuedCount() const { return static_cast<int>(queue_.size()); }
    const std::list<std::unique_ptr<PublishService>>& queue() const { return queue_; }
    PublishService* findPublished(const UniqueID& serviceId, const UniqueID& descId);

private:
    // serviceId and descId.
    using Key = std::array<uint8_t, 2 * kUniqueIdSize>;
    using Entries = std::list<std::unique_ptr<PublishService>>;
    static Key keyOf(const Service& service);
    void startRequester(const Service& service);
    Entries::iterator publishedAt(const Service& service);
    void unlinkPublished(Entries::iterator at);

    FlockGateway& gateway_;
    int32_t stepElapsed_ = 0;
    Entries published_;
    Entries queue_;
    int32_t checkElapsed_ = 0;
    int32_t step_ = kPublishStepMs;
    // The published entries by identifiers.
    std::map<Key, Entries::iterator> index_;
};

// CloserTester: the closer test. Every minute it looks at every service
// other nodes stored on this node and asks whether this node is among the
// nearest nodes for its key: near when it ranks first or second among the
// nine nearest known contacts and itself (by XOR distance to the key).
// One record per key counts the near and the other findings; the records
// are dumped to log.txt after every round. A task of the task thread.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "core/task/time_slice_task.h"
#include "overlay/id_key.h"
#include "v4ada/containers/hash_table.h"
#include "v4ada/containers/unique_id.h"

class OverlayProbe;

struct CloserRecord {
    UniqueID id;
    bool nearFlag = true;
    int nearCount = 0;
    int otherCount = 0;
    int rank = 0;
};

class CloserTester final : public TimeSliceTask, public ElementFunctor {
public:
    static constexpr int kRoundMs = 60000;
    static constexpr int kNearest = 9;
    // Ranks that count as near.
    static constexpr int kNearRanks = 2;

    explicit CloserTester(OverlayProbe& probe) : probe_(probe) {}
    CloserTester(const CloserTester&) = delete;
    CloserTester& operator=(const CloserTester&) = delete;

    // Every 60,000 ms: a debug line with the stored count, every stored
    // service applied, then the dump.
    bool tick(int elapsedMs) override;
    // One stored service (a Service*): its key's record gets the own
    // node's rank (1 to 9, 0 when farther) and counts near or other.
    // Keeps the service.
    bool apply(void* value, void* argument) override;
    void dump();

    // The own node's place among itself and the contacts the routing table
    // gives as the nine nearest to the key: 1 + the contacts nearer than
    // it, or 0 when that is beyond 9.
    int rankOf(const UniqueID& key);

    int recordCount() const { return static_cast<int>(records_.size()); }
    const CloserRecord& record(int i) const { return *records_[i]; }

private:
    CloserRecord* recordFor(const UniqueID& id);

    OverlayProbe& probe_;
    std::vector<std::unique_ptr<CloserRecord>> records_;  // in order of arrival
    std::unordered_map<IdKey, CloserRecord*, IdKeyHash> byId_;
    int32_t elapsed_ = 0;
};

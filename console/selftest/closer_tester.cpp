#include "console/selftest/closer_tester.h"

#include "console/selftest/overlay_probe.h"
#include "core/ui/ui_gateway.h"
#include "overlay/index/service.h"
#include "overlay/routing/node.h"
#include "v4ada/containers/ll.h"
#include "v4ada/memory/malloc4.h"

bool CloserTester::tick(int elapsedMs) {
    elapsed_ += elapsedMs;
    if (elapsed_ <= kRoundMs) return false;
    elapsed_ = 0;
    if (UIGateway* ui = currentUI()) ui->debug("closer test update (%d publishes)\n", probe_.storedCount());
    probe_.visitStored(this);
    dump();
    return false;
}

CloserRecord* CloserTester::recordFor(const UniqueID& id) {
    auto found = byId_.find(idKey(id));
    if (found != byId_.end()) return found->second;
    records_.push_back(std::make_unique<CloserRecord>());
    CloserRecord* record = records_.back().get();
    record->id = id;
    byId_.emplace(idKey(id), record);
    return record;
}

int CloserTester::rankOf(const UniqueID& key) {
    UniqueID own = probe_.ownId();
    LL nearest;
    probe_.nearest(key, kNearest, &nearest);
    int nearer = 0;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&nearest, &cursor)) {
        const UniqueID& contact = static_cast<Node*>(element)->id;
        if (!contact.equals(own) && isCloser(key, contact, own)) nearer++;
    }
    return nearer < kNearest ? nearer + 1 : 0;
}

bool CloserTester::apply(void* value, void*) {
    auto service = static_cast<Service*>(value);
    CloserRecord* record = recordFor(service->serviceId);
    record->rank = rankOf(service->serviceId);
    if (record->rank >= 1 && record->rank <= kNearRanks) {
        record->nearFlag = true;
        record->nearCount++;
    } else {
        record->nearFlag = false;
        record->otherCount++;
    }
    return true;
}

void CloserTester::dump() {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    ui->log("************ Dumping CloserTester ***********");
    for (const auto& record : records_) {
        char* hex = record->id.toHex();
        ui->debug("[%d] %d, %d, %d (%s)\n", record->rank, record->nearFlag ? 1 : 0, record->nearCount,
                  record->otherCount, hex);
        ui->log("%d, %d, %d (%s)", record->nearFlag ? 1 : 0, record->nearCount, record->otherCount, hex);
        i4_free(hex);
    }
    ui->log("********* Done Dumping CloserTester *********");
}

#include "overlay/index/service_directory.h"

#include <algorithm>

#include "core/meta/special_tags.h"
#include "overlay/index/service_search.h"

HashServicesList::~HashServicesList() {
    while (void* element = removeAt(0)) delete static_cast<TimedService*>(element);
}

TimedService* HashServicesList::findDesc(const UniqueID& descId) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(this, &cursor)) {
        auto entry = static_cast<TimedService*>(element);
        if (entry->descId.equals(descId)) return entry;
    }
    return nullptr;
}

LLNode* HashServicesList::append(void* element) {
    auto service = static_cast<TimedService*>(element);
    if (service == nullptr) return nullptr;
    TimedService* entry = findDesc(service->descId);
    if (entry == nullptr) return LL::append(service);
    int64_t previous = entry->stamp;
    int32_t rate = entry->getSpecialInt(ST_AVAILABILITY);
    entry->assign(*service);  // keeps its own firstSeen
    entry->updateRate(rate, previous);
    delete service;
    return nullptr;
}

ServiceDirectory::ServiceDirectory() : table_(new HashServicesList()) { table_.init(kServiceBuckets); }

void ServiceDirectory::index(TimedService* service) {
    service->arrival = ++arrivals_;
    byAge_.emplace(ageOf(service), service);
}

void ServiceDirectory::evict(TimedService* service) {
    byAge_.erase(ageOf(service));
    stored_--;
    table_.remove(service->serviceId, service);
    delete service;
}

void ServiceDirectory::add(TimedService* service) {
    if (service == nullptr) return;
    UniqueID key = service->serviceId;
    auto list = static_cast<HashServicesList*>(table_.find(key));
    if (TimedService* known = list != nullptr ? list->findDesc(service->descId) : nullptr) {
        byAge_.erase(ageOf(known));
        table_.add(key, service);  // refreshes known, deletes service
        index(known);
        return;
    }
    if (list != nullptr && list->count() >= kServicesPerKeyMax) {
        TimedService* oldest = nullptr;
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(list, &cursor)) {
            auto entry = static_cast<TimedService*>(element);
            if (oldest == nullptr || ageOf(entry) < ageOf(oldest)) oldest = entry;
        }
        evict(oldest);
    }
    while (stored_ >= kServicesMax && !byAge_.empty()) evict(byAge_.begin()->second);
    table_.add(key, service);
    index(service);
    stored_++;
}

int ServiceDirectory::lookup(ServiceSearch* search, int* next, LL* out) {
    auto list = static_cast<HashServicesList*>(table_.find(search->key));
    if (list == nullptr) {
        *next = 0;
        return 0;
    }
    unsigned limit = std::min(static_cast<unsigned>(search->max), static_cast<unsigned>(kLookupLimit));
    int index = 0;
    unsigned delivered = 0;
    bool full = false;
    *next = -1;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(list, &cursor)) {
        if (index < search->start) {
            index++;
            continue;
        }
        auto entry = static_cast<TimedService*>(element);
        if (!full && search->matches(entry)) {
            out->append(entry);
            delivered++;
            if (delivered >= limit) {
                full = true;
                *next = index;
            }
        }
        index++;
    }
    int total = std::max(index, search->start);
    if (!full) *next = total;
    return total;
}

namespace {

// Passes every entry on and keeps it, whatever the visitor answers.
class KeepingVisitor : public ElementFunctor {
public:
    explicit KeepingVisitor(ElementFunctor* visitor) : visitor_(visitor) {}
    bool apply(void* value, void* argument) override {
        visitor_->apply(value, argument);
        return true;
    }

private:
    ElementFunctor* visitor_;
};

}  // namespace

void ServiceDirectory::visit(ElementFunctor* visitor, void* argument) {
    if (visitor == nullptr) return;
    KeepingVisitor keeping(visitor);
    table_.forEach(&keeping, argument);
}

void ServiceDirectory::expire(int maxAgeSeconds) {
    now_ = serviceClockNow();
    maxAge_ = maxAgeSeconds;
    table_.forEach(this, nullptr);
    for (const UniqueID& key : emptied_) {
        HT128_InnerList* list = table_.find(key);
        if (list != nullptr && list->first() == nullptr) table_.removeKey(key);
    }
    emptied_.clear();
}

bool ServiceDirectory::apply(void* value, void*) {
    auto entry = static_cast<TimedService*>(value);
    if (now_ - entry->stamp <= maxAge_) return true;
    byAge_.erase(ageOf(entry));
    stored_--;
    emptied_.push_back(entry->serviceId);
    delete entry;
    return false;
}

// ServiceDirectory: the services other nodes published to this node, in a
// hash table keyed by serviceId (1033 buckets; the bucket of a key is its
// first 32-bit word, little-endian, modulo 1033). A republished entry (same
// serviceId and descId) is refreshed in place and keeps a rate of
// publishes per hour in special tag 21; entries older than 6 hours are
// removed by the service cleaner every 20 minutes. At most 2000 entries
// are kept under one key and 50000 in all: a new entry beyond either cap
// first evicts the oldest stamp (under its key, or in all).
//
// HashServicesList is the inner list of one key; it owns its services.
#pragma once

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "overlay/index/service.h"
#include "v4ada/containers/hash_table.h"

class ServiceSearch;

constexpr uint32_t kServiceBuckets = 1033;
constexpr int kServicesPerKeyMax = 2000;
constexpr int kServicesMax = 50000;
// Most entries one search is answered with.
constexpr int kLookupLimit = 100;
constexpr int kServiceMaxAgeSeconds = 21600;

class HashServicesList : public HT128_InnerList {
public:
    ~HashServicesList() override;
    // The first entry with the same descId is refreshed from the new
    // service, which is deleted (null is returned); otherwise the service
    // is appended.
    LLNode* append(void* element) override;
    HT128_InnerList* makeNew() override { return new HashServicesList(); }

    TimedService* findDesc(const UniqueID& descId);
};

class ServiceDirectory : public ElementFunctor {
public:
    ServiceDirectory();
    ~ServiceDirectory() override = default;
    ServiceDirectory(const ServiceDirectory&) = delete;
    ServiceDirectory& operator=(const ServiceDirectory&) = delete;

    // Takes the service over: refreshes the entry with its serviceId and
    // descId, or stores it (evicting the oldest beyond a cap).
    void add(TimedService* service);
    // The entries under the search key from search->start on that match its
    // tree, at most min(max, 100) (a limit of 0 still delivers the first),
    // appended to out as pointers into the directory. *next := the index of
    // the last entry delivered when the limit was reached, else the total.
    // Returns the total: the entries under the key, or start when larger.
    int lookup(ServiceSearch* search, int* next, LL* out);
    int count() const { return stored_; }
    // Hands every entry (a TimedService*) to the visitor, bucket by bucket;
    // the visitor's answer is ignored: nothing is removed.
    void visit(ElementFunctor* visitor, void* argument);
    // Removes every entry whose stamp is more than maxAgeSeconds old.
    void expire(int maxAgeSeconds);
    // One entry of the expiry walk: false (the entry is deleted) when too old.
    bool apply(void* value, void* argument) override;

private:
    using Age = std::pair<int64_t, uint64_t>;  // stamp, arrival
    Age ageOf(const TimedService* service) const { return Age(service->stamp, service->arrival); }
    void index(TimedService* service);
    void evict(TimedService* service);

    int64_t now_ = 0;
    int32_t maxAge_ = 0;
    HashTable128 table_;
    // Every entry, oldest stamp first.
    std::map<Age, TimedService*> byAge_;
    int stored_ = 0;
    uint64_t arrivals_ = 0;
    // Keys whose lists the expiry walk emptied.
    std::vector<UniqueID> emptied_;
};

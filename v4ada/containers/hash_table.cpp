#include "v4ada/containers/hash_table.h"

#include "v4ada/containers/list_iterator.h"
#include "v4ada/error/error.h"

namespace {

// Deletes every inner list of the bucket (the lists, not their values).
template <typename Inner>
void deleteInnerLists(LL* bucket) {
    while (void* list = bucket->removeAt(0)) delete static_cast<Inner*>(list);
}

uint32_t firstWordLE(const UniqueID& id) {
    const uint8_t* b = id.bytes();
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

HT32_InnerList* HT32_InnerList::makeNew() { return new HT32_InnerList; }

HT128_InnerList* HT128_InnerList::makeNew() { return new HT128_InnerList; }

// ---- HashTable32

HashTable32::HashTable32(HT32_InnerList* prototype)
    : prototype_(prototype != nullptr ? prototype : new HT32_InnerList) {}

HashTable32::~HashTable32() {
    deleteBuckets();
    delete prototype_;
}

void HashTable32::deleteBuckets() {
    for (uint32_t i = 0; i < bucketCount_; i++) deleteInnerLists<HT32_InnerList>(&buckets_[i]);
    delete[] buckets_;
    buckets_ = nullptr;
    bucketCount_ = 0;
}

void HashTable32::init(uint32_t n) {
    deleteBuckets();
    if (n == 0) return;
    buckets_ = new LL[n];
    bucketCount_ = n;
}

LL* HashTable32::bucketOf(uint32_t key) {
    if (bucketCount_ == 0) return nullptr;
    return &buckets_[key % bucketCount_];
}

HT32_InnerList* HashTable32::find(uint32_t key) {
    LL* bucket = bucketOf(key);
    if (bucket == nullptr) return nullptr;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(bucket, &cursor)) {
        HT32_InnerList* list = static_cast<HT32_InnerList*>(element);
        if (list->key == key) return list;
    }
    return nullptr;
}

void HashTable32::add(uint32_t key, void* value) {
    LL* bucket = bucketOf(key);
    if (bucket == nullptr) {
        error_at(__FILE__, __LINE__)("hash table used before init");
        return;
    }
    HT32_InnerList* list = find(key);
    if (list == nullptr) {
        list = prototype_->makeNew();
        list->key = key;
        list->append(value);
        bucket->append(list);
        return;
    }
    list->append(value);
}

void HashTable32::remove(uint32_t key, void* value) {
    HT32_InnerList* list = find(key);
    if (list == nullptr) return;
    list->remove(value);
    if (list->first() == nullptr) {
        bucketOf(key)->remove(list);
        delete list;
    }
}

void HashTable32::removeKey(uint32_t key) {
    HT32_InnerList* list = find(key);
    if (list == nullptr) return;
    bucketOf(key)->remove(list);
    delete list;
}

// ---- HashTable128

HashTable128::HashTable128(HT128_InnerList* prototype)
    : prototype_(prototype != nullptr ? prototype : new HT128_InnerList) {}

HashTable128::~HashTable128() {
    deleteBuckets();
    delete prototype_;
}

void HashTable128::deleteBuckets() {
    for (uint32_t i = 0; i < bucketCount_; i++) deleteInnerLists<HT128_InnerList>(&buckets_[i]);
    delete[] buckets_;
    buckets_ = nullptr;
    bucketCount_ = 0;
}

void HashTable128::init(uint32_t n) {
    deleteBuckets();
    if (n == 0) return;
    buckets_ = new LL[n];
    bucketCount_ = n;
}

LL* HashTable128::bucketOf(const UniqueID& key) {
    if (bucketCount_ == 0) return nullptr;
    return &buckets_[firstWordLE(key) % bucketCount_];
}

HT128_InnerList* HashTable128::find(const UniqueID& key) {
    LL* bucket = bucketOf(key);
    if (bucket == nullptr) return nullptr;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(bucket, &cursor)) {
        HT128_InnerList* list = static_cast<HT128_InnerList*>(element);
        if (list->key.equals(key)) return list;
    }
    return nullptr;
}

HT128_InnerList* HashTable128::add(const UniqueID& key, void* value) {
    LL* bucket = bucketOf(key);
    if (bucket == nullptr) {
        error_at(__FILE__, __LINE__)("hash table used before init");
        return nullptr;
    }
    HT128_InnerList* list = find(key);
    if (list == nullptr) {
        list = prototype_->makeNew();
        list->key.copy(key);
        list->append(value);
        bucket->append(list);
        return list;
    }
    list->append(value);
    return list;
}

void HashTable128::remove(const UniqueID& key, void* value) {
    HT128_InnerList* list = find(key);
    if (list == nullptr) return;
    list->remove(value);
    if (list->first() == nullptr) {
        bucketOf(key)->remove(list);
        delete list;
    }
}

void HashTable128::removeKey(const UniqueID& key) {
    HT128_InnerList* list = find(key);
    if (list == nullptr) return;
    bucketOf(key)->remove(list);
    delete list;
}

int HashTable128::count() {
    int total = 0;
    for (uint32_t i = 0; i < bucketCount_; i++) {
        LLNode* cursor = nullptr;
        while (void* list = LL::walk(&buckets_[i], &cursor)) total += static_cast<HT128_InnerList*>(list)->count();
    }
    return total;
}

uint32_t HashTable128::forEach(ElementFunctor* functor, void* argument) {
    for (uint32_t i = 0; i < bucketCount_; i++) {
        ListIterator lists(&buckets_[i]);
        while (lists.hasMore()) {
            auto* list = static_cast<HT128_InnerList*>(lists.next());
            ListIterator values(list);
            while (values.hasMore()) {
                void* value = values.next();
                if (!functor->apply(value, argument)) values.removeCurrent();
            }
            // A list emptied here goes, as one emptied by remove does.
            if (list->first() == nullptr) {
                lists.removeCurrent();
                delete list;
            }
        }
    }
    return bucketCount_;
}

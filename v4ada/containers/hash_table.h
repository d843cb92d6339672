// Chained hash tables mapping a key to the list of its values: HashTable32
// keyed by a 32-bit integer, HashTable128 by a UniqueID. Each key's values
// live in an inner list (an LL that also holds the key); the table makes
// new inner lists with its prototype's makeNew, so a user can have it hold
// a list class of its own. Bucket = key mod bucket count, where the key of
// a HashTable128 is the first 32-bit word of its bytes read little-endian.
// The tables never own the values.
#pragma once

#include <cstdint>

#include "v4ada/containers/ll.h"
#include "v4ada/containers/unique_id.h"

class HT32_InnerList : public LL {
public:
    // A new empty list of the same class.
    virtual HT32_InnerList* makeNew();

    uint32_t key = 0;
};

class HT128_InnerList : public LL {
public:
    // A new empty list of the same class.
    virtual HT128_InnerList* makeNew();

    UniqueID key;
};

// The callback of HashTable128::forEach: true keeps the value.
class ElementFunctor {
public:
    virtual ~ElementFunctor() = default;
    virtual bool apply(void* value, void* argument) = 0;
};

class HashTable32 {
public:
    // Takes ownership of the prototype; null makes a plain HT32_InnerList.
    explicit HashTable32(HT32_InnerList* prototype = nullptr);
    ~HashTable32();
    HashTable32(const HashTable32&) = delete;
    HashTable32& operator=(const HashTable32&) = delete;

    // n empty buckets (n >= 1); inner lists held so far are deleted.
    void init(uint32_t n);
    // Raises i4_err on a table without buckets.
    void add(uint32_t key, void* value);
    // Removes the value; a list left empty leaves its bucket and is deleted.
    void remove(uint32_t key, void* value);
    // Drops the key's inner list with all its entries.
    void removeKey(uint32_t key);
    // The key's inner list, null when the key has none.
    HT32_InnerList* find(uint32_t key);

    uint32_t bucketCount() const { return bucketCount_; }

private:
    LL* bucketOf(uint32_t key);
    void deleteBuckets();

    uint32_t bucketCount_ = 0;
    LL* buckets_ = nullptr;
    HT32_InnerList* prototype_;
};

class HashTable128 {
public:
    // Takes ownership of the prototype; null makes a plain HT128_InnerList.
    explicit HashTable128(HT128_InnerList* prototype = nullptr);
    ~HashTable128();
    HashTable128(const HashTable128&) = delete;
    HashTable128& operator=(const HashTable128&) = delete;

    // n empty buckets (n >= 1); inner lists held so far are deleted.
    void init(uint32_t n);
    // Returns the key's inner list. Raises i4_err on a table without buckets.
    HT128_InnerList* add(const UniqueID& key, void* value);
    // Removes the value; a list left empty leaves its bucket and is deleted.
    void remove(const UniqueID& key, void* value);
    // Drops the key's inner list with all its entries.
    void removeKey(const UniqueID& key);
    // The key's inner list, null when the key has none.
    HT128_InnerList* find(const UniqueID& key);
    // Values in all inner lists.
    int count();
    // Calls functor->apply(value, argument) on every value, bucket by
    // bucket, list by list; a value it refuses leaves its inner list at once,
    // and an inner list it empties is deleted (lists of keys that come and
    // go would pile up otherwise). Returns the bucket count.
    uint32_t forEach(ElementFunctor* functor, void* argument);

    uint32_t bucketCount() const { return bucketCount_; }

private:
    LL* bucketOf(const UniqueID& key);
    void deleteBuckets();

    HT128_InnerList* prototype_;
    uint32_t bucketCount_ = 0;
    LL* buckets_ = nullptr;
};

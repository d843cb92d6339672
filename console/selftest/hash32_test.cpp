#include "console/selftest/hash32_test.h"

#include <cstdlib>

#include "console/selftest/test_output.h"
#include "v4ada/containers/hash_table.h"

namespace {

constexpr uint32_t kBuckets = 17;

// The first value under the key is the given integer.
bool firstIs(HashTable32& table, uint32_t key, int value) {
    HT32_InnerList* list = table.find(key);
    if (!list) return false;
    void* first = list->first();
    return first && *static_cast<int*>(first) == value;
}

}  // namespace

bool Hash32Test::run() {
    uint32_t k1 = static_cast<uint32_t>(rand());
    uint32_t k2 = static_cast<uint32_t>(rand());
    // Two more draws, as the test has always made them.
    (void)rand();
    (void)rand();
    return runWithKeys(k1, k2);
}

bool Hash32Test::runWithKeys(uint32_t k1, uint32_t k2) {
    test_print(" HashTable32 test:");
    int values[4] = {1, 2, 3, 4};
    HashTable32 table;
    table.init(kBuckets);

    table.add(k1, &values[0]);
    if (table.find(k2) || !firstIs(table, k1, 1)) return false;

    table.add(k2, &values[1]);
    table.add(k2, &values[2]);
    HT32_InnerList* list = table.find(k2);
    if (!list || list->count() < 2 || *static_cast<int*>(list->at(0)) != 2 ||
        *static_cast<int*>(list->at(1)) != 3)
        return false;

    table.remove(k2, &values[1]);
    list = table.find(k2);
    if (!list || list->count() != 1 || *static_cast<int*>(list->at(0)) != 3) return false;

    table.remove(k2, &values[2]);
    if (table.find(k2)) return false;

    table.add(k2, &values[1]);
    table.add(k2 + 1, &values[2]);
    table.add(k2 + 3, &values[3]);
    if (!firstIs(table, k2 + 1, 3)) return false;

    table.remove(k2, &values[3]);
    if (!firstIs(table, k2, 2)) return false;

    table.remove(k2 + 3, &values[3]);
    if (table.find(k2 + 3) || !firstIs(table, k2, 2)) return false;
    return true;
}

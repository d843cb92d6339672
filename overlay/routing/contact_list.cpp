#include "overlay/routing/contact_list.h"

#include <cmath>
#include <cstdint>

#include "core/meta/user_meta.h"
#include "overlay/gateway/flock_output.h"
#include "v4ada/containers/ll.h"
#include "v4ada/time/random.h"

ContactList::ContactList(const UniqueID& ownId, int capacity) : root_(capacity, 0, nullptr) {
    ownId_.copy(ownId);
    root_.setOwnId(ownId);
}

void ContactList::add(const Node* node) {
    if (node == nullptr || node->ip < kLowIdLimit || node->id.isZero() || node->id.equals(ownId_)) return;
    root_.leaf(node->id)->addHere(node);
}

bool ContactList::remove(const Node* node) {
    if (node == nullptr) return false;
    return root_.leaf(node->id)->remove(node);
}

bool ContactList::miss(const Node* node) {
    if (node == nullptr) return false;
    Bucket* bucket = root_.leaf(node->id);
    Node* contact = bucket->contacts.findById(node->id);
    if (contact == nullptr) return false;
    contact->misses++;
    if (contact->misses <= kMaxMisses) return false;
    return bucket->remove(contact);
}

int ContactList::nearest(const UniqueID& target, int n, LL* out) {
    if (n <= 0) return 0;
    return nearestFrom(&root_, target, n, out);
}

int ContactList::nearestFrom(Bucket* bucket, const UniqueID& target, int n, LL* out) {
    if (bucket->count > 0) {
        if (bucket->count > n) bucket->contacts.sortByDistance(target);
        int taken = 0;
        for (Node* node : bucket->contacts.nodes()) {
            if (taken == n) break;
            out->append(node);
            taken++;
        }
        return taken;
    }
    if (bucket->child0 == nullptr || bucket->child1 == nullptr) return 0;
    bool one = target.bit(static_cast<unsigned>(bucket->depth)) != 0;
    int taken = nearestFrom(one ? bucket->child1 : bucket->child0, target, n, out);
    if (taken < n) taken += nearestFrom(one ? bucket->child0 : bucket->child1, target, n - taken, out);
    return taken;
}

void ContactList::allContacts(LL* out) { collect(&root_, out); }

void ContactList::collect(Bucket* bucket, LL* out) {
    if (bucket->child1 != nullptr) collect(bucket->child1, out);
    if (bucket->child0 != nullptr) collect(bucket->child0, out);
    for (Node* node : bucket->contacts.nodes()) out->append(node);
}

int ContactList::size() {
    LL all;
    allContacts(&all);
    return all.count();
}

Node* ContactList::randomContact() {
    LL all;
    allContacts(&all);
    int n = all.count();
    if (n == 0) return nullptr;
    return static_cast<Node*>(all.at(random_below(n)));
}

int32_t ContactList::estimateSize() {
    Bucket* own = ownLeaf();
    double estimate = std::ldexp(static_cast<double>(own->count), own->depth);
    if (estimate >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(estimate);
}

void ContactList::printOwnBucket() {
    Bucket* own = ownLeaf();
    flock_print("Bucket Depth: %d, Nodes in Bucket: %d", own->depth, own->count);
}

void ContactList::list(int recheckCount) {
    Bucket* own = ownLeaf();
    flock_print("%d (%d) contacts", own->count, recheckCount);
    OwnedString text;
    for (Node* node : own->contacts.nodes()) flock_print("%s", node->toString(text));
}

void ContactList::dumpTree() {
    flock_print("*******************");
    root_.dump();
    flock_print("*******************");
}

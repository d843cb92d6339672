#include "overlay/routing/bucket.h"

#include "overlay/gateway/flock_output.h"

#include <initializer_list>

namespace {
// At or below this count an own-side leaf gives its contacts back to its
// parent.
constexpr int kMergeCount = 3;
}  // namespace

Bucket::Bucket(int capacity, int depth, Bucket* parent) : parent(parent), capacity(capacity), depth(depth) {}

Bucket::~Bucket() {
    delete child0;
    delete child1;
}

Bucket* Bucket::leaf(const UniqueID& id) {
    Bucket* bucket = this;
    for (;;) {
        Bucket* next = id.bit(static_cast<unsigned>(bucket->depth)) ? bucket->child1 : bucket->child0;
        if (next == nullptr) return bucket;
        bucket = next;
    }
}

void Bucket::addHere(const Node* node) {
    if (Node* known = contacts.findById(node->id)) {
        known->ip = node->ip;
        known->port = node->port;
        return;
    }
    if (count < capacity) {
        count++;
        contacts.addCopy(node);
        return;
    }
    if (ownSide) {
        count++;
        contacts.addCopy(node);
        split();
        return;
    }
    replaceWorst(node);
}

void Bucket::split() {
    child0 = new Bucket(capacity, depth + 1, this);
    child1 = new Bucket(capacity, depth + 1, this);
    ownSide = false;
    (ownId.bit(static_cast<unsigned>(depth)) ? child1 : child0)->setOwnId(ownId);
    for (Node* node : contacts.nodes()) leaf(node->id)->addHere(node);
    contacts.deleteAll();
    count = 0;
}

void Bucket::replaceWorst(const Node* node) {
    Node* worst = nullptr;
    for (Node* contact : contacts.nodes())
        if (worst == nullptr || contact->misses >= worst->misses) worst = contact;
    if (worst == nullptr || node->misses >= worst->misses) return;
    contacts.remove(worst);
    contacts.addCopy(node);
    delete worst;
}

bool Bucket::remove(const Node* node) {
    if (!contacts.removeById(node)) return false;
    count--;
    if (ownSide && count <= kMergeCount && parent != nullptr) parent->merge();
    return true;
}

void Bucket::merge() {
    for (Bucket** child : {&child0, &child1}) {
        for (Node* node : (*child)->contacts.nodes()) addHere(node);
        delete *child;
        *child = nullptr;
    }
    ownSide = true;
    if (count <= kMergeCount && parent != nullptr) parent->merge();
}

void Bucket::setOwnId(const UniqueID& id) {
    ownId.copy(id);
    ownSide = true;
}

void Bucket::indent() {
    for (int i = 0; i < depth; i++) flock_print_flush("==");
}

void Bucket::dump() {
    indent();
    if (ownSide)
        flock_print_flush("%d*", count);
    else if (count > 0)
        flock_print_flush("%d", count);
    else
        flock_print_flush("/\\");
    if (child0 != nullptr) {
        indent();
        flock_print_flush("(0)");
        child0->dump();
    }
    if (child1 != nullptr) {
        indent();
        flock_print_flush("(1)");
        child1->dump();
    }
}

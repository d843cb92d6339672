#include "overlay/routing/node_list.h"

#include <algorithm>
#include <vector>

#include "overlay/gateway/flock_output.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/memory/malloc4.h"

void NodeList::deleteAll() {
    while (void* element = removeAt(0)) delete static_cast<Node*>(element);
}

Node* NodeList::findByAddress(uint32_t ip, int port) {
    for (Node* node : nodes())
        if (node->hasAddress(ip, port)) return node;
    return nullptr;
}

Node* NodeList::findById(const UniqueID& id) {
    for (Node* node : nodes())
        if (node->id.equals(id)) return node;
    return nullptr;
}

bool NodeList::removeById(const UniqueID& id) {
    Node* node = findById(id);
    if (node == nullptr) return false;
    remove(node);
    delete node;
    return true;
}

bool NodeList::removeByAddress(uint32_t ip, int port) {
    Node* node = findByAddress(ip, port);
    if (node == nullptr) return false;
    remove(node);
    delete node;
    return true;
}

Node* NodeList::addCopy(const Node* node) {
    if (node == nullptr) return nullptr;
    auto copy = new Node(*node);
    append(copy);
    return copy;
}

Node* NodeList::addOrUpdateAt(const Node* node, bool front) {
    if (node == nullptr) return nullptr;
    if (Node* known = findById(node->id)) {
        known->copyFrom(node);
        return known;
    }
    auto copy = new Node(*node);
    if (front)
        prepend(copy);
    else
        append(copy);
    return copy;
}

Node* NodeList::addOrUpdate(const Node* node) { return addOrUpdateAt(node, false); }

Node* NodeList::addOrUpdateFront(const Node* node) { return addOrUpdateAt(node, true); }

void NodeList::keepFirst(int n) {
    int kept = 0;
    LLNode* before = &sentinel;
    while (before->next != &sentinel) {
        if (kept < n) {
            kept++;
            before = before->next;
            continue;
        }
        delete static_cast<Node*>(unlinkAfter(before));
    }
}

template <class Less>
void NodeList::stableSort(Less less) {
    std::vector<Node*> order;
    for (Node* node : nodes()) order.push_back(node);
    std::stable_sort(order.begin(), order.end(), less);
    clear();
    for (Node* node : order) append(node);
}

void NodeList::sortByDistance(const UniqueID& target) {
    stableSort([&target](const Node* a, const Node* b) { return isCloser(target, a->id, b->id); });
}

void NodeList::sortByMisses() {
    stableSort([](const Node* a, const Node* b) { return a->misses < b->misses; });
}

bool NodeList::save(const char* path, int n) {
    int total = std::max(0, std::min(count(), n));
    // The image is built in memory and goes to the disk in one write.
    i4_ram_file_class image(nullptr, 0, 4096);
    image.write_32(static_cast<uint32_t>(total));
    int written = 0;
    for (Node* node : nodes()) {
        if (written == total) break;
        node->write(&image);
        written++;
    }
    bool saved = false;
    if (path != nullptr) {
        i4_safe_file safe(path, kFsWrite | kFsTruncate);
        i4_file* file = safe.file();
        int size = static_cast<int>(image.tell());
        // A writer given up without close keeps the old file.
        if (file != nullptr && file->write(image.data(), size) == size) saved = safe.close();
    }
    i4_free(image.data());
    if (!saved) flock_print("%s", flock_text("errorSavingNodeList", "error saving NodeList").c_str());
    return saved;
}

bool NodeList::load(const char* path) {
    if (path == nullptr) return true;
    i4_safe_file safe(path, kFsRead);
    i4_file* file = safe.file();
    if (file == nullptr) return true;  // the first start: nothing saved yet

    // Only the bytes that the count could ever cover are read.
    i4_pos limit = kContactFileHeaderSize + static_cast<i4_pos>(kContactFileMaxNodes) * kNodeRecordSize;
    i4_pos size = std::min(file->size(), limit);
    auto bytes = static_cast<uint8_t*>(i4_malloc(size > 0 ? size : 1));
    i4_pos got = 0;
    while (got < size) {
        int n = file->read(bytes + got, static_cast<int>(size - got));
        if (n <= 0) break;
        got += static_cast<i4_pos>(n);
    }
    bool complete = got == size;
    safe.close();

    bool loaded = complete && parse(bytes, size);
    i4_free(bytes);
    if (!loaded) flock_print("%s", flock_text("errorLoadingNodeList", "error loading NodeList").c_str());
    return loaded;
}

bool NodeList::parse(const uint8_t* bytes, i4_pos size) {
    if (size < kContactFileHeaderSize) return false;
    i4_ram_file_class image(const_cast<uint8_t*>(bytes), size, 0);
    uint32_t count = image.read_32();
    i4_pos present = (size - kContactFileHeaderSize) / kNodeRecordSize;
    uint32_t records = static_cast<uint32_t>(std::min<i4_pos>({count, present, kContactFileMaxNodes}));
    for (uint32_t i = 0; i < records; i++) {
        auto node = new Node();
        node->read(&image);
        append(node);
    }
    return records == count;
}

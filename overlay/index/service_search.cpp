#include "overlay/index/service_search.h"

#include "core/search/search_node.h"
#include "v4ada/digest/md4.h"
#include "v4ada/error/error.h"
#include "v4ada/file/file.h"

ServiceSearch::ServiceSearch(const char* keyword) { searchKeyword(keyword); }

void ServiceSearch::searchKeyword(const char* keyword) {
    OwnedString lowered(keyword != nullptr ? keyword : "");
    lowered.toLower();
    setKeyword(lowered.c_str());
    md4String(key.bytes(), lowered.c_str());
}

ServiceSearch::ServiceSearch(const UniqueID& key) { this->key.copy(key); }

bool ServiceSearch::write(i4_file* file) {
    bool written = true;
    key.write(file);
    if (root() != nullptr) {
        file->write_8(1);
        written = Search::toNetwork(file);
    } else {
        file->write_8(0);
    }
    file->write_16(static_cast<uint16_t>(start));
    file->write_16(static_cast<uint16_t>(max));
    return written;
}

bool ServiceSearch::read(i4_file* file) {
    try {
        UniqueID readKey;
        readKey.read(file);
        key.copy(readKey);
        uint8_t hasTree = file->read_8();
        if (hasTree == 1) {
            if (!Search::fromNetwork(file)) return false;
        } else {
            reset();
        }
        start = file->read_16();
        max = file->read_16();
        return true;
    } catch (const i4_err&) {
        return false;
    }
}

int ServiceSearch::size() { return kServiceSearchFixedSize + (root() != nullptr ? Search::wireSize() : 0); }

bool ServiceSearch::matches(Meta* record) { return root() == nullptr || root()->match(record); }

#include "core/strings/priority_names.h"

#include "core/strings/string_table.h"
#include "v4ada/string/owned_string.h"

namespace {

constexpr const char* kKeys[kPriorityNameCount] = {"low", "normal", "high", "highest"};
constexpr const char* kDefaults[kPriorityNameCount] = {"Low", "Normal", "High", "Highest"};

OwnedString* gNames = nullptr;

}  // namespace

void setupPriorityNames() {
    if (gNames) return;
    gNames = new OwnedString[kPriorityNameCount];
    XMLStringTable* table = XMLStringTable::instance();
    for (int i = 0; i < kPriorityNameCount; i++) {
        gNames[i] = kDefaults[i];
        if (table) table->lookup(kKeys[i], gNames[i]);
    }
}

void freePriorityNames() {
    delete[] gNames;
    gNames = nullptr;
}

const char* priorityName(int priority) {
    if (!gNames || priority < 0 || priority >= kPriorityNameCount) return nullptr;
    return gNames[priority].c_str();
}

// Loads arbitrary bytes as ui.xml and reads every text back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/strings/string_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    XMLStringTable table;
    table.loadBuffer(reinterpret_cast<const char*>(data), size);
    for (int i = 1; i < kStringTableSize; i++)
        if (table.get(i) == nullptr) std::abort();
    OwnedString text("default");
    table.lookup("STRINGS_NONE", text);
    table.lookup("low", text);
    OwnedString other = table.lookupText("socketSetProb");
    if (other.c_str() == nullptr) std::abort();
    // A second load over the same table replaces the first tree.
    table.loadBuffer(reinterpret_cast<const char*>(data), size / 2);
    table.lookup("STRINGS_NONE", text);
    return 0;
}

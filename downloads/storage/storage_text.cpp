#include "downloads/storage/storage_text.h"

#include "core/strings/string_table.h"

const char* storageString(int index) {
    XMLStringTable* table = XMLStringTable::instance();
    const char* text = table ? table->get(index) : nullptr;
    if (text == nullptr) text = string_table_default(index);
    return text ? text : "";
}

OwnedString storageKeyText(const char* key, const char* fallback) {
    OwnedString text(fallback);
    if (XMLStringTable* table = XMLStringTable::instance()) table->lookup(key, text);
    return text;
}

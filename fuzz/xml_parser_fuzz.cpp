// Parses arbitrary text and walks the resulting tree through the lookups.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "v4ada/xml/xml_parser.h"

namespace {

void visit(XMLNode* node, int depth) {
    if (depth > kXmlMaxDepth) std::abort();
    OwnedString value;
    xml_attribute_value(node, "name", value);
    node->child("strings");
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&node->children, &cursor)) {
        auto* child = static_cast<XMLNode*>(element);
        if (child->parent != node) std::abort();
        visit(child, depth + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* text = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(text, data, size);
    text[size] = 0;
    XMLParser parser;
    XMLNode* root = parser.parse(text);
    if (root != nullptr) {
        visit(root, 1);
        xml_child_path(root, 2, "strings", "item");
    }
    std::free(text);
    return 0;
}

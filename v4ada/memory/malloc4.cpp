#include "v4ada/memory/malloc4.h"

#include <cstdlib>

#include "v4ada/error/error.h"

void* i4_malloc(size_t size) {
    void* p = malloc(size ? size : 1);
    if (!p) error_at(i4_module::kMalloc, __LINE__)("out of memory");
    return p;
}

void* i4_realloc(void* pointer, size_t size) {
    if (!pointer) return i4_malloc(size);
    void* p = realloc(pointer, size ? size : 1);
    if (!p) error_at(i4_module::kMalloc, __LINE__)("out of memory");
    return p;
}

void i4_free(void* pointer) { free(pointer); }

// Allocation that reports "out of memory" instead of handing back null.
#pragma once

#include <cstddef>

void* i4_malloc(size_t size);
void* i4_realloc(void* pointer, size_t size);
void i4_free(void* pointer);

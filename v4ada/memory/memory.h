// Byte comparison of memory blocks and ASCII case folding.
#pragma once

#include <cstddef>

int i4memcmp(const void* a, const void* b, size_t n);
int i4memicmp(const void* a, const void* b, size_t n);
char char_upper(char c);
char char_lower(char c);

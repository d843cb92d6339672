// The random source: the C library's generator, drawn through random_below.
#pragma once

// Seeds rand with (process id x current seconds).
void seed_random();
// A random integer from 0 to n - 1 (n >= 1), floor(n * rand() / 2^31).
int random_below(int n);

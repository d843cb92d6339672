// Output of the self tests: lines and raw text through the current output
// gateway; nothing while no gateway is set.
#pragma once

// One line.
void test_print(const char* format, ...);
// Without a newline.
void test_print_raw(const char* format, ...);

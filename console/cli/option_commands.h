// The console commands that show or change the user's own options: maximum
// connections, nickname, transfer limits, verbose output, line speed, the
// pager's page length, and echo. A malformed number changes nothing and
// prints the command's usage text.
#pragma once

#include <cstddef>

// The longest text a string option keeps in pref.met: a longer one would
// come back cut at the next start, so the commands refuse it.
constexpr size_t kOptionTextMax = 128;
// Offset of echo's text: the word "echo" and one delimiter.
constexpr int kEchoTextOffset = 5;

void mcon_command(char* line);
void name_command(char* line);
void dumax_command(char* line);
void verbose_command(char* line);
void line_command(char* line);
void lines_command(char* line);
void echo_command(char* line);

// Whether the text has at most max characters. When it has more, prints
// "Too long: <what> takes at most <max> characters; nothing changed." and
// returns false; the caller then changes nothing.
bool option_text_fits(const char* what, const char* text, size_t max);

// A whole decimal integer with nothing after it, within int; false for
// anything else.
bool parse_whole_number(const char* text, int* out);
// A decimal number from 0 to the largest single-precision value, with
// nothing after it.
bool parse_amount(const char* text, double* out);

// Small text conversions: sizes with a unit letter, hours written as
// minutes, sizes printed in binary units, URL-escaped text, and text made
// safe to show on a terminal.
#pragma once

#include <cstdint>
#include <string>

#include "v4ada/string/owned_string.h"

// The number at the start of the text times 2^30 when the text holds a 'g'
// anywhere, else 2^20 for an 'm', else 1024 for a 'k' (either case).
// A null text gives 0.
float parseSize(const char* text);

// The number at the start of the text, times 60 when the text holds an 'h'
// and no 'm' (either case). A null text gives 0.
float parseMinutes(const char* text);

// "%.2fG" / "%.2fM" / "%.2fK" of the size in units of 2^30 / 2^20 / 2^10
// above 10^9 / 10^6 / 10^3 bytes; the plain number otherwise.
OwnedString formatSize(int64_t size);

// Decodes in place: '+' becomes a blank and "%hh" (two hexadecimal digits)
// becomes that byte. A '%' not followed by two hexadecimal digits stays
// as it is. A null text is left alone.
void urlUnescape(char* text);

// The text as a listing shows it: each control byte (below 0x20, and 0x7F)
// written as an escape, a backslash and n, r or t for those three, a
// backslash, x and two lower-case hexadecimal digits for the others, so
// that a name from disk or from a peer cannot start a row, shift a column
// or reach the terminal as a command. Other bytes stay.
// A null text gives an empty one.
std::string printableText(const char* text);

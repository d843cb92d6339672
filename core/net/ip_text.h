// IPv4 values and their dotted text. An IPv4 value is a u32 whose four
// bytes in memory are the address bytes in dotted order: 1.2.3.4 is the
// bytes 1, 2, 3, 4.
#pragma once

#include <cstdint>

#include "v4ada/string/owned_string.h"

class i4_address;

// The address's four bytes as a value; 0 for null.
uint32_t addressToIp(const i4_address* address);
// "%d.%d.%d.%d" of the value into out; returns out's text.
const char* ipToText(uint32_t ip, OwnedString& out);
const char* addressToText(const i4_address* address, OwnedString& out);
// Four decimal numbers 0..255 separated by dots, optionally followed by a
// line feed; anything else (missing or oversized numbers, other trailing
// characters, null) gives 0.
uint32_t ipFromText(const char* text);

// The value from the four address bytes in dotted order.
uint32_t ipFromBytes(const uint8_t bytes[4]);
void ipToBytes(uint32_t ip, uint8_t bytes[4]);

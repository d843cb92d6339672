// The check code that closes a hello between clients and the overlay's
// check datagrams: the last 4 bytes of a message, derived from every byte
// before them and a seed (the sender's TCP port as signed 16-bit for
// hellos, 15 for the overlay).
#pragma once

#include <cstddef>
#include <cstdint>

// Rewrites the last 4 bytes of b[0..n) with the computed code and tells
// whether they held that code before. A writer puts any 4 bytes there and
// ignores the result; a reader runs the same routine over what it got.
// Buffers shorter than 5 bytes hold no code: false, nothing changed.
bool messageCheckTrailer(uint8_t* b, size_t n, int32_t seed);

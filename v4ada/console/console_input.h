// Line and single-key reads of the console.
//
// They read standard input unless another stream is installed with
// console_set_input (tests feed a pipe that way). No lock: the console
// reads on one thread at a time.
#pragma once

#include <cstdio>

// Installs the stream the reads take (not owned); null puts stdin back.
void console_set_input(FILE* stream);
FILE* console_input();

// Clears the input's error and end-of-input state so the next read is
// not blocked by an earlier overflow or end of input.
void console_reset_input();

// Reads one line: at most n - 1 characters, terminated, the newline
// consumed and not stored. A longer line stops after n - 1 characters and
// leaves the rest for the next read (which the caller makes after
// console_reset_input). Returns false when the input ended before any
// character was read (the buffer then holds an empty string).
bool console_read_line(char* buffer, int n);

// Reads one key without waiting for Enter and without echo: on a terminal
// the canonical mode and echo are switched off for the one read and the
// previous settings put back. Returns the character, or EOF.
int read_key();

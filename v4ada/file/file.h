// i4_file: the one byte-stream interface. Disk files, memory buffers,
// sockets and the debug output are all i4_files; every record and packet
// is encoded and decoded through the typed little-endian readers and
// writers below. A short read raises i4_err ("read_8 error" ...), so a
// parser of untrusted input catches i4_err to fail the record.
//
// Positions and sizes are 64-bit; counts of one read or write are int.
//
// printf conversions: %c %d %i %u %o %x (int), %p (pointer, hex), %s (C
// string, nothing for null), %S (const OwnedString*, nothing for null text),
// %I (const i4_printable*, "NULL" for null), %f (double, with the C
// formatter and the whole conversion text, so "%.2f" works), %%.
// 64-bit integers: %D (int64_t), %U (uint64_t), %X (uint64_t, hex).
// Flags, width and precision only affect %f; any other letter (length
// modifiers included) prints nothing and takes no argument.
#pragma once

#include <cstdarg>
#include <cstdint>

using i4_pos = uint64_t;

class i4_file {
public:
    virtual ~i4_file() = default;
    virtual void flush() {}
    // Bytes read, 0 at the end (a socket may give -1 on error).
    virtual int read(void* buffer, int n) = 0;
    // Bytes written, -1 on a file or socket error.
    virtual int write(const void* buffer, int n) = 0;
    virtual i4_pos seek(i4_pos position) = 0;
    virtual i4_pos size() = 0;
    virtual i4_pos tell() = 0;
    // Writes `byte` count times in chunks; false when a write fails or
    // makes no progress.
    virtual bool fill(uint8_t byte, i4_pos count);
    // Address of the stored bytes at an offset, for memory-backed kinds.
    virtual void* bufferAt(i4_pos offset);
    virtual bool inMemory() { return false; }

    uint8_t read_8();
    uint16_t read_16();
    uint32_t read_32();
    uint64_t read_64();
    float read_float();
    // Reads exactly n bytes or raises "readAll error".
    void readAll(void* buffer, int n);

    int write_8(uint8_t value);
    int write_16(uint16_t value);
    int write_32(uint32_t value);
    int write_64(uint64_t value);
    int write_float(float value);

    bool atEnd() { return tell() == size(); }

    int printf(const char* format, ...);
    int vprintf(const char* format, va_list args);
};

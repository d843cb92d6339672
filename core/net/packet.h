// Packet: a message being built or parsed in a memory buffer behind the
// i4_file interface; subclasses know how to send or receive themselves on
// a socket.
#pragma once

#include <cstdint>

#include "v4ada/file/ram_file.h"

class i4_socket;

// The packet's memory file. It remembers how far it has been written, so a
// packet sends only bytes that were written, never the untouched rest of
// its allocation.
class PacketBuffer : public i4_ram_file_class {
public:
    PacketBuffer(void* buffer, i4_pos capacity, i4_pos growStep) : i4_ram_file_class(buffer, capacity, growStep) {}
    int write(const void* buffer, int n) override;
    // Bytes from offset 0 up to the furthest write.
    i4_pos written() const { return written_; }

private:
    i4_pos written_ = 0;
};

class Packet {
public:
    // Results of read and send.
    static constexpr int kPartial = 0;   // call again
    static constexpr int kComplete = 1;
    static constexpr int kFailed = 2;    // error or closed
    // Growth step of the buffer when written beyond its end.
    static constexpr int kGrowStep = 1024;

    // A buffer of size bytes (0: the empty form), positioned at 0.
    explicit Packet(int size);
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    virtual ~Packet();

    virtual Packet* clone() const { return nullptr; }
    virtual int read(i4_socket*, int* got) { *got = 0; return kPartial; }
    virtual int send(i4_socket*, int* sent) { *sent = 0; return kPartial; }
    // Called once the packet has gone out completely.
    virtual void sent() {}

    PacketBuffer* buffer() { return buffer_; }
    const PacketBuffer* buffer() const { return buffer_; }
    int size() const { return size_; }

protected:
    int32_t size_;
    PacketBuffer* buffer_;
};

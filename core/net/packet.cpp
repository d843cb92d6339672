#include "core/net/packet.h"

#include <cstring>

#include "v4ada/memory/malloc4.h"

int PacketBuffer::write(const void* buffer, int n) {
    int count = i4_ram_file_class::write(buffer, n);
    if (count > 0 && tell() > written_) written_ = tell();
    return count;
}

Packet::Packet(int size) : size_(size < 0 ? 0 : size) {
    void* memory = nullptr;
    if (size_ > 0) {
        memory = i4_malloc(static_cast<size_t>(size_));
        std::memset(memory, 0, static_cast<size_t>(size_));
    }
    buffer_ = new PacketBuffer(memory, size_, kGrowStep);
}

Packet::~Packet() {
    i4_free(buffer_->data());
    delete buffer_;
}

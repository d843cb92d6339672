// UploadPacket: one ICLT_DATA message of an upload. It holds a reference on
// its upload while it lives, adds the bytes it writes to the upload's sent
// count, and once it has gone out completely queues the upload's next
// packet (Upload::sendNext), so two packets stay in flight.
//
// ICLT_DATA in the TCP frame (core/net/tcp_frame.h), little-endian:
//   u8 0xE3 | u32 length = 25 + n
//   payload offset 0: u8 70 (ICLT_DATA)
//                  1: 16-byte file hash
//                 17: u32 start offset in the file
//                 21: u32 end offset, exclusive
//                 25: n = end - start bytes of the file
#pragma once

#include <cstdint>

#include "core/net/tcp_packet.h"

class Upload;

constexpr int kDataOpcodeAt = 0;
constexpr int kDataHashAt = 1;
constexpr int kDataStartAt = 17;
constexpr int kDataEndAt = 21;
constexpr int kDataBytesAt = 25;
// The frame length of an ICLT_DATA message is this plus its data bytes.
constexpr int kDataHeaderLength = 25;

class UploadPacket : public TCPPacket {
public:
    // A frame of that length (opcode included) for the upload, referenced.
    UploadPacket(int payloadLength, Upload* upload);
    ~UploadPacket() override;

    int send(i4_socket* socket, int* sent) override;
    void sent() override;

private:
    Upload* upload_;
};

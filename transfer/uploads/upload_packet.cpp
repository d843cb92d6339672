#include "transfer/uploads/upload_packet.h"

#include "core/net/tcp_frame.h"
#include "transfer/uploads/upload.h"

UploadPacket::UploadPacket(int payloadLength, Upload* upload)
    : TCPPacket(payloadLength, kFrameMarker), upload_(upload) {
    upload_->addRef();
}

UploadPacket::~UploadPacket() { upload_->release(); }

int UploadPacket::send(i4_socket* socket, int* sent) {
    int result = TCPPacket::send(socket, sent);
    upload_->countSent(*sent);
    return result;
}

void UploadPacket::sent() { upload_->packetSent(); }

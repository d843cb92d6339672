// The console commands of the uploads and the peer connections: the
// upload slots (vu; with each slot's score in master mode), the upload
// queue (vq), the connections (vp; the socket pool's dump and rates in
// master mode), and in master mode a ping (ping) or a close (kick) of a
// connection numbered as vp lists it.
#pragma once

constexpr const char* kUnknownFileName = "????";

void vu_command(char* line);
void vq_command(char* line);
void vp_command(char* line);
void ping_command(char* line);
void kick_command(char* line);

// The node protocol: opcodes 10 to 35 of the overlay's datagrams.
//
// Datagram: u8 marker 0xE3 | u8 opcode | payload. Integers little-endian;
// an IPv4 address is a u32 of the four address bytes in dotted order; a
// port is a u16; identifiers and hashes are 16 raw bytes; a node record
// is the 23-byte form of node.h. Offsets below count from the first
// payload byte (the datagram's byte 2).
#pragma once

#include <cstdint>

#include "overlay/routing/node.h"

constexpr uint8_t kFlockMarker = 0xE3;
// Bytes in front of every payload: marker and opcode.
constexpr int kDatagramHeaderSize = 2;

// 10, booting node to a node of its boot list:
//   0  23  the sender's node record
constexpr uint8_t INODE_CONNECT = 10;
constexpr int kConnectSize = kNodeRecordSize;

// 11, answer to 10:
//   0  2         count, u16
//   2  23 x count  distinct random contacts, then the answering node's own
//                  record last (1 to 23 records)
constexpr uint8_t INODE_CONNECTREPLY = 11;
constexpr int kConnectReplyHeaderSize = 2;
// Random contacts drawn for a boot answer.
constexpr int kConnectReplyDraws = 22;

// 12, hello:  0  23  the sender's node record
constexpr uint8_t INODE_HELLO = 12;
constexpr int kHelloSize = kNodeRecordSize;

// 13, answer to 12: no payload
constexpr uint8_t INODE_HELLOREPLY = 13;

// 14, route request:
//   0   1  wanted, unsigned
//   1  16  target identifier
constexpr uint8_t INODE_ROUTE = 14;
constexpr int kRouteSize = 1 + 16;

// 15, answer to 14:
//   0  16          the target, echoed
//   16  1          count, unsigned
//   17  23 x count  node records of the nearest contacts
constexpr uint8_t INODE_ROUTEREPLY = 15;
constexpr int kRouteReplyHeaderSize = 16 + 1;
// Most records a route answer carries: what a 3072-byte receive buffer
// holds (2 + 17 + 23 x 132 = 3055 bytes).
constexpr int kRouteReplyMaxNodes = 132;

// 16, index search: a ServiceSearch in wire form (service_search.h)
constexpr uint8_t INODE_SEARCH = 16;

// 17, one per matching entry: a Service in wire form (service.h)
constexpr uint8_t INODE_SEARCHRESULT = 17;

// 18, after the results of 16:
//   0  16  the search key
//   16  2  next index, u16
//   18  2  total entries under the key, u16
constexpr uint8_t INODE_SEARCHEND = 18;
constexpr int kSearchEndSize = 16 + 2 + 2;

// 19, publish: a Service in wire form
constexpr uint8_t INODE_PUBLISH = 19;

// 20, answer to 19:  0  16  the ServiceID stored
constexpr uint8_t INODE_PUBLISHACK = 20;
constexpr int kPublishAckSize = 16;

// 21, firewalled node to a random contact:  0  23  the sender's node record
constexpr uint8_t INODE_BUDDYREQUEST = 21;
// 22, answer to 21:  0  2  the buddy's TCP door port, u16
constexpr uint8_t INODE_BUDDYACCEPT = 22;
// 23: no payload (never sent by this client)
constexpr uint8_t INODE_BUDDYREFUSE = 23;
// 24, to the buddy of a firewalled user:
//   0  16  user identifier
//   16  2  the asker's TCP door port, u16
constexpr uint8_t INODE_CALLREQUEST = 24;
// 25 and 26, answers to 24:  0  16  user identifier
constexpr uint8_t INODE_CALLRELAYED = 25;
constexpr uint8_t INODE_CALLFAILED = 26;
// 27, node under test to a random contact:  0  2  its TCP door port, u16
constexpr uint8_t INODE_FIREWALLCHECK = 27;
// 28, at once on 27:  0  4  the tested node's IPv4 address as seen, u32
constexpr uint8_t INODE_YOURIP = 28;
// 29 and 30, after the tester's TCP connection: no payload
constexpr uint8_t INODE_FIREWALLOPEN = 29;
constexpr uint8_t INODE_FIREWALLED = 30;

// 31 and 32, check message and its answer; the whole datagram is 49 bytes:
//   datagram byte 0   1  marker 0xE3
//                 1   1  opcode 31 or 32
//                 2   4  u32, 2 when sent (not interpreted on receipt)
//                 6  23  the sender's node record
//                29  16  four u32 from the random generator
//                45   4  check trailer, seed 15, over datagram bytes 0..48
constexpr uint8_t INODE_CHECK = 31;
constexpr uint8_t INODE_CHECKREPLY = 32;
constexpr int kCheckDatagramSize = 49;
constexpr int kCheckPayloadSize = kCheckDatagramSize - kDatagramHeaderSize;
constexpr uint32_t kCheckVersion = 2;
constexpr int32_t kCheckTrailerSeed = 15;

// 33, to each node that named a candidate that did not answer:
//   0  23  the silent node's record
constexpr uint8_t INODE_DEADNODE = 33;
constexpr int kDeadNodeSize = kNodeRecordSize;

// 34: no payload (never sent by this client)
constexpr uint8_t INODE_GETNUMBUDDIES = 34;
// 35, answer to 34:  0  4  entries in the buddy list, u32 (no handler)
constexpr uint8_t INODE_NUMBUDDIES = 35;
constexpr int kNumBuddiesSize = 4;

// Time-outs of the requests that expect an answer, in ms.
constexpr int kRouteTimeoutMs = 10000;
constexpr int kHelloTimeoutMs = 15000;
constexpr int kPublishTimeoutMs = 30000;
constexpr int kSearchTimeoutMs = 30000;
constexpr int kRefreshHelloTimeoutMs = 35000;

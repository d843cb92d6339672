// The frames the client sends to its controller, and the encoders of the
// payloads with a fixed layout. Every field is written one by one in the
// order and width given here, little-endian.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/net/tcp_packet.h"
#include "v4ada/string/owned_string.h"

class i4_file;

// One outgoing frame: header and opcode written, the payload follows. The
// length field is settled by finish() (done by the sender).
class ControllerFrame : public TCPPacket {
public:
    explicit ControllerFrame(uint8_t opcode, int payloadHint = 0);

    i4_file* out();
    // The sender's count of queued, unsent bytes: the frame takes itself
    // off it once it has gone out whole.
    void countIn(std::atomic<int64_t>* unsent) { unsent_ = unsent; }
    void sent() override;

private:
    std::atomic<int64_t>* unsent_ = nullptr;
};

// The encoded string form of the text (u16 length, bytes), cut to the
// longest length the form carries; null is "".
void writeCutString(i4_file* out, const char* text);

// A count written before the entries it counts: its place is reserved
// (zero) by the constructor and the value written there by set, the
// stream left at its end.
class CountField {
public:
    CountField(i4_file* out, int bytes);
    void set(uint32_t count);

private:
    i4_file* out_;
    uint64_t at_;
    int bytes_;
};

// A frame whose payload is one string (IGUI_CONSOLE_TEXT, IGUI_ERROR_TEXT,
// IGUI_STATUS_TEXT).
ControllerFrame* newTextFrame(uint8_t opcode, const char* text);

// IGUI_CLIENT_STATUS (199) payload, in order:
//   u16 client version (1050)
//   f32 download limit | f32 upload limit (KB/s, 0 = none)
//   u16 peer door port | u16 maximum connections (low 16 bits)
//   string nickname | string temp directory | string incoming directory
//   u8 0 | u8 0 | u8 0
//   u8 pmAllow | u8 saveCor | u8 verifyCancel
//   u16 administration door port
//   u32 maximum connections
//   u32 build date ((year - 2000) x 65536 + month x 256 + day)
//   u32 line speed (whole KB/s)
//   u32 process id
struct ClientStatus {
    float downloadLimit = 0;
    float uploadLimit = 0;
    uint16_t doorPort = 0;
    uint32_t maxConnections = 0;
    OwnedString nickname{""};
    OwnedString tempDir{""};
    OwnedString incomingDir{""};
    uint8_t pmAllow = 0;
    uint8_t saveCor = 0;
    uint8_t verifyCancel = 0;
    uint16_t adminDoorPort = 0;
    uint32_t buildDate = 0;
    uint32_t lineSpeed = 0;
    uint32_t processId = 0;
};
constexpr uint16_t kControllerClientVersion = 1050;
// The bytes of the payload besides the three strings' texts.
constexpr int kClientStatusFixedSize = 2 + 4 + 4 + 2 + 2 + 3 * 2 + 3 + 3 + 2 + 4 + 4 + 4 + 4;
void writeClientStatus(i4_file* out, const ClientStatus& status);

// The build date of a text "Mmm d yyyy" (as __DATE__ gives it): 0 unless
// it has three fields, an English month abbreviation, a day of 1 to 31
// and a year from 2000 on that fits the encoding.
uint32_t buildDateValue(const char* text);
// The line speed field: the whole KB/s, 0 when negative or not finite.
uint32_t lineSpeedValue(double kbPerSecond);

// One IGUI_DOWNLOAD_STATUS (197) entry, 15 bytes:
//   u32 id | u8 status code | f32 speed | u32 bytes done (low 32 bits)
//   | u8 availability percent | u8 number of sources (low 8 bits)
constexpr int kDownloadStatusEntrySize = 15;
struct DownloadStatusEntry {
    uint32_t id = 0;
    uint8_t status = 0;
    float speed = 0;
    uint64_t bytesDone = 0;
    double availability = 0;  // 0 to 1
    uint32_t sources = 0;
};
void writeDownloadStatusEntry(i4_file* out, const DownloadStatusEntry& entry);
// availability x 100 truncated toward zero, within 0..100; 0 for NaN.
uint8_t availabilityPercent(double availability);

// IGUI_DISK_INFO (175) payload, 20 bytes:
//   f32 MiB free for the temp directory | f32 MiB free for the incoming one
//   | u32 0 | u32 own IPv4 value | u16 connections | u16 queued users
constexpr int kDiskInfoSize = 20;
struct DiskInfo {
    float tempFreeMiB = 0;
    float incomingFreeMiB = 0;
    uint32_t ownIp = 0;
    uint16_t connections = 0;
    uint16_t queuedUsers = 0;
};
void writeDiskInfo(i4_file* out, const DiskInfo& info);

// IGUI_PART_MAP (174) payload:
//   u32 id | u16 n | n x (u32 start byte, u32 end byte, u16 weight)
// A run is a longest stretch of crumbs of equal weight (-1: verified, else
// the sources that have it); its end is the next run's start, the file
// size for the last. -1 travels as 65535. The count is written once the
// runs are known.
constexpr int kPartMapRunSize = 10;
void writePartMap(i4_file* out, uint32_t id, const int32_t* weights, uint32_t crumbs, uint64_t fileSize);

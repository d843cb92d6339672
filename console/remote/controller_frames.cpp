#include "console/remote/controller_frames.h"

#include <cmath>
#include <cstring>

#include "v4ada/digest/part_hash.h"
#include "core/net/tcp_frame.h"
#include "v4ada/file/file.h"

namespace {

constexpr const char* kMonthNames = "JanFebMarAprMayJunJulAugSepOctNovDec";
constexpr uint32_t kFirstYear = 2000;
constexpr uint32_t kLastYear = kFirstYear + 0xFFFF;
constexpr uint16_t kLargestWeight = 0xFFFE;  // 0xFFFF is "verified"

// The next blank-separated word of text at *cursor; false when none.
bool nextWord(const char** cursor, const char** start, size_t* length) {
    const char* p = *cursor;
    while (*p == ' ' || *p == '\t') p++;
    if (*p == 0) return false;
    *start = p;
    while (*p && *p != ' ' && *p != '\t') p++;
    *length = static_cast<size_t>(p - *start);
    *cursor = p;
    return true;
}

// A word of digits only, within 0..limit.
bool wholeWord(const char* start, size_t length, uint32_t limit, uint32_t* out) {
    if (length == 0 || length > 9) return false;
    uint32_t value = 0;
    for (size_t i = 0; i < length; i++) {
        if (start[i] < '0' || start[i] > '9') return false;
        value = value * 10 + static_cast<uint32_t>(start[i] - '0');
    }
    if (value > limit) return false;
    *out = value;
    return true;
}

uint16_t weightField(int32_t weight) {
    if (weight < 0) return 0xFFFF;
    return weight > kLargestWeight ? kLargestWeight : static_cast<uint16_t>(weight);
}

}  // namespace

ControllerFrame::ControllerFrame(uint8_t opcode, int payloadHint)
    : TCPPacket(1 + (payloadHint > 0 ? payloadHint : 0), kFrameMarker) {
    buffer()->write_8(opcode);
}

i4_file* ControllerFrame::out() { return buffer(); }

void ControllerFrame::sent() {
    if (unsent_) unsent_->fetch_sub(frameSize());
}

CountField::CountField(i4_file* out, int bytes) : out_(out), at_(out->tell()), bytes_(bytes) {
    if (bytes_ == 2)
        out_->write_16(0);
    else
        out_->write_32(0);
}

void CountField::set(uint32_t count) {
    i4_pos end = out_->tell();
    out_->seek(at_);
    if (bytes_ == 2)
        out_->write_16(static_cast<uint16_t>(count));
    else
        out_->write_32(count);
    out_->seek(end);
}

void writeCutString(i4_file* out, const char* text) {
    size_t length = text ? strlen(text) : 0;
    if (length > static_cast<size_t>(kStringMaxEncoded)) length = kStringMaxEncoded;
    out->write_16(static_cast<uint16_t>(length));
    if (length > 0) out->write(text, static_cast<int>(length));
}

ControllerFrame* newTextFrame(uint8_t opcode, const char* text) {
    size_t length = text ? strlen(text) : 0;
    if (length > static_cast<size_t>(kStringMaxEncoded)) length = kStringMaxEncoded;
    auto frame = new ControllerFrame(opcode, static_cast<int>(2 + length));
    writeCutString(frame->out(), text);
    frame->finish();
    return frame;
}

void writeClientStatus(i4_file* out, const ClientStatus& status) {
    out->write_16(kControllerClientVersion);
    out->write_float(status.downloadLimit);
    out->write_float(status.uploadLimit);
    out->write_16(status.doorPort);
    out->write_16(static_cast<uint16_t>(status.maxConnections & 0xFFFF));
    status.nickname.write(out);
    status.tempDir.write(out);
    status.incomingDir.write(out);
    out->write_8(0);
    out->write_8(0);
    out->write_8(0);
    out->write_8(status.pmAllow);
    out->write_8(status.saveCor);
    out->write_8(status.verifyCancel);
    out->write_16(status.adminDoorPort);
    out->write_32(status.maxConnections);
    out->write_32(status.buildDate);
    out->write_32(status.lineSpeed);
    out->write_32(status.processId);
}

uint32_t buildDateValue(const char* text) {
    if (!text) return 0;
    const char* cursor = text;
    const char* words[3];
    size_t lengths[3];
    for (int i = 0; i < 3; i++)
        if (!nextWord(&cursor, &words[i], &lengths[i])) return 0;
    const char* extra;
    size_t extraLength;
    if (nextWord(&cursor, &extra, &extraLength)) return 0;
    if (lengths[0] != 3) return 0;
    uint32_t month = 0;
    for (uint32_t m = 0; m < 12; m++)
        if (strncmp(kMonthNames + 3 * m, words[0], 3) == 0) month = m + 1;
    uint32_t day = 0;
    uint32_t year = 0;
    if (month == 0 || !wholeWord(words[1], lengths[1], 31, &day) || day < 1) return 0;
    if (!wholeWord(words[2], lengths[2], kLastYear, &year) || year < kFirstYear) return 0;
    return (year - kFirstYear) * 65536 + month * 256 + day;
}

uint32_t lineSpeedValue(double kbPerSecond) {
    if (!std::isfinite(kbPerSecond) || kbPerSecond <= 0) return 0;
    if (kbPerSecond >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(kbPerSecond);
}

uint8_t availabilityPercent(double availability) {
    if (!(availability > 0)) return 0;  // NaN too
    double percent = std::trunc(availability * 100.0);
    return percent >= 100.0 ? 100 : static_cast<uint8_t>(percent);
}

void writeDownloadStatusEntry(i4_file* out, const DownloadStatusEntry& entry) {
    out->write_32(entry.id);
    out->write_8(entry.status);
    out->write_float(entry.speed);
    out->write_32(static_cast<uint32_t>(entry.bytesDone & 0xFFFFFFFFu));
    out->write_8(availabilityPercent(entry.availability));
    out->write_8(static_cast<uint8_t>(entry.sources & 0xFF));
}

void writeDiskInfo(i4_file* out, const DiskInfo& info) {
    out->write_float(info.tempFreeMiB);
    out->write_float(info.incomingFreeMiB);
    out->write_32(0);
    out->write_32(info.ownIp);
    out->write_16(info.connections);
    out->write_16(info.queuedUsers);
}

void writePartMap(i4_file* out, uint32_t id, const int32_t* weights, uint32_t crumbs, uint64_t fileSize) {
    out->write_32(id);
    CountField runs(out, 2);
    uint16_t count = 0;
    uint32_t i = 0;
    while (weights && i < crumbs && count < 0xFFFF) {
        uint32_t j = i + 1;
        while (j < crumbs && weights[j] == weights[i]) j++;
        uint64_t start = static_cast<uint64_t>(i) * kCrumbSize;
        uint64_t end = j < crumbs ? static_cast<uint64_t>(j) * kCrumbSize : fileSize;
        out->write_32(static_cast<uint32_t>(start));
        out->write_32(static_cast<uint32_t>(end));
        out->write_16(weightField(weights[i]));
        count++;
        i = j;
    }
    runs.set(count);
}

#include "core/ui/ui_gateway.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/ui/page_sink.h"
#include "v4ada/file/fs.h"
#include "v4ada/string/cstring.h"

namespace {

// Constant-initialised: no constructor runs before main.
std::atomic<UIGateway*> gCurrent{nullptr};

// Log line layout: "[ " local time in ctime form without its newline " ]: "
// message "\n".
constexpr const char* kLogLineFormat = "[ %s ]: %s\n";
// ctime_r needs at least 26 bytes.
constexpr int kTimeTextBuffer = 64;

}  // namespace

UIGateway* currentUI() { return gCurrent.load(std::memory_order_acquire); }

UIGateway* setCurrentUI(UIGateway* gateway) {
    return gCurrent.exchange(gateway, std::memory_order_acq_rel);
}

UIGateway::UIGateway() : verbose_(false), sink_(nullptr), logPath_("") {}

UIGateway::~UIGateway() = default;

void UIGateway::setVerbose(bool on) { verbose_.store(on, std::memory_order_relaxed); }

void UIGateway::print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprint(format, args);
    va_end(args);
}

void UIGateway::printRaw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintRaw(format, args);
    va_end(args);
}

void UIGateway::debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vdebug(format, args);
    va_end(args);
}

void UIGateway::printFlush(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintFlush(format, args);
    va_end(args);
}

void UIGateway::log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vlog(format, args);
    va_end(args);
}

void UIGateway::vprint(const char* format, va_list args) {
    PageSink* sink = sink_.load(std::memory_order_acquire);
    if (sink) {
        char line[kPrintLineBuffer];
        va_list copy;
        va_copy(copy, args);
        i4_vsnprintf(line, kPrintLineBuffer, format, copy);
        va_end(copy);
        if (sink->takeLine(line)) return;
    }
    OwnedString text;
    text.vformat(format, args);
    text.append("\n");
    writeOutput(text.c_str(), text.length());
}

void UIGateway::vprintRaw(const char* format, va_list args) {
    OwnedString text;
    text.vformat(format, args);
    writeOutput(text.c_str(), text.length());
}

void UIGateway::vdebug(const char* format, va_list args) {
    if (!isVerbose()) return;
    vprintRaw(format, args);
}

void UIGateway::vprintFlush(const char* format, va_list args) {
    vprintRaw(format, args);
    flushOutput();
}

void UIGateway::vlog(const char* format, va_list args) {
    if (logPath().isEmpty()) return;
    OwnedString message;
    message.vformat(format, args);

    time_t now = time(nullptr);
    char stamp[kTimeTextBuffer];
    if (!ctime_r(&now, stamp)) strcpy(stamp, "?\n");
    size_t n = strlen(stamp);
    if (n > 0 && stamp[n - 1] == '\n') stamp[n - 1] = 0;

    OwnedString line;
    line.format(kLogLineFormat, stamp, message.c_str());
    appendToLog(line.c_str(), line.length());
}

void UIGateway::logRaw(const void* data, int length) {
    if (!data || length <= 0) return;
    appendToLog(static_cast<const char*>(data), length);
}

void UIGateway::appendToLog(const char* data, int length) {
    OwnedString path = logPath();
    if (path.isEmpty()) return;
    // Append mode: the one write lands at the end of the file as a whole,
    // whatever other threads or processes append meanwhile.
    i4_file* file = fs_open(path.c_str(), kFsWrite | kFsAppend);
    if (!file) return;
    file->write(data, length);
    delete file;
}

void UIGateway::setLogPath(const char* path) {
    SysMutexGuard guard(&pathLock_);
    logPath_ = path ? path : "";
}

OwnedString UIGateway::logPath() const {
    SysMutexGuard guard(&pathLock_);
    return logPath_;
}

void UIGateway::writeOutput(const char* text, int length) {
    if (!text || length <= 0) return;
    fwrite(text, 1, static_cast<size_t>(length), stdout);
}

void UIGateway::flushOutput() { fflush(stdout); }

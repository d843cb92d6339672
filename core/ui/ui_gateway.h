// UIGateway: the one way text is shown or logged. Subsystems reach the
// active gateway through currentUI(); the application sets it once at
// start-up (the console user interface derives from this class).
//
// Every format below is a format of the library's printf engine with its
// arguments. Texts that come from files or peers are passed as "%s"
// arguments, never as the format.
//
// Any thread may print or log. Log lines are written to the log file one
// whole line per write in append mode, so lines of several threads never
// interleave and nothing is lost when the process ends.
#pragma once

#include <atomic>
#include <cstdarg>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class PageSink;

// Bytes of a printed line handed to the pager, terminator included; longer
// lines are cut.
constexpr int kPrintLineBuffer = 512;

class UIGateway {
public:
    UIGateway();
    UIGateway(const UIGateway&) = delete;
    UIGateway& operator=(const UIGateway&) = delete;
    virtual ~UIGateway();

    virtual void setVerbose(bool on);
    bool isVerbose() const { return verbose_.load(std::memory_order_relaxed); }

    // One line: to the page sink while it collects, else to standard
    // output followed by "\n".
    void print(const char* format, ...);
    // Standard output unchanged, no newline added.
    void printRaw(const char* format, ...);
    // Like printRaw, only while verbose is set.
    void debug(const char* format, ...);
    // Like printRaw, then standard output is flushed (prompts, progress).
    void printFlush(const char* format, ...);
    // Appends "[ <ctime> ]: <message>\n" to the log file; nothing without
    // a log path or when the file cannot be opened.
    void log(const char* format, ...);

    virtual void vprint(const char* format, va_list args);
    virtual void vprintRaw(const char* format, va_list args);
    virtual void vdebug(const char* format, va_list args);
    virtual void vprintFlush(const char* format, va_list args);
    virtual void vlog(const char* format, va_list args);
    // Appends the bytes unchanged to the log file.
    virtual void logRaw(const void* data, int length);

    void setLogPath(const char* path);
    OwnedString logPath() const;
    // The console's pager hand-off; null sends every line to standard output.
    void setPageSink(PageSink* sink) { sink_.store(sink, std::memory_order_release); }

protected:
    // Standard output, a seam for tests; errors are ignored.
    virtual void writeOutput(const char* text, int length);
    virtual void flushOutput();

private:
    void appendToLog(const char* data, int length);

    std::atomic<bool> verbose_;
    std::atomic<PageSink*> sink_;
    mutable SysMutex pathLock_;
    OwnedString logPath_ TS_GUARDED_BY(pathLock_);
};

// The active gateway: null until the application (or a test) sets one.
// setCurrentUI returns the previous gateway; the caller owns both.
UIGateway* currentUI();
UIGateway* setCurrentUI(UIGateway* gateway);

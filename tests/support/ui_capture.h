// CaptureUI: an output gateway that keeps everything shown through it
// instead of writing to standard output. Safe to use from several threads.
//
//   CaptureUI ui;                 // the current gateway until it goes
//   run_something();
//   EXPECT_EQ(ui.text(), "Done.\n");
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/ui/ui_gateway.h"

namespace support {

class CaptureUI : public UIGateway {
public:
    enum class Install { kCurrent, kDetached };

    // kCurrent makes it the current gateway, and the previous one current
    // again when it goes.
    explicit CaptureUI(Install install = Install::kCurrent);
    ~CaptureUI() override;

    // The bytes written to "standard output": print adds "\n", debug shows
    // only while verbose, lines a page sink takes are not here.
    std::string text();
    // text(), then forgets it.
    std::string takeText();
    // One entry per print, printRaw or printFlush call (and per debug call
    // while verbose), formatted, without the "\n" print adds.
    std::vector<std::string> printed();
    // The print calls made while fn ran (a command handler, say).
    std::vector<std::string> printedDuring(const std::function<void()>& fn);
    // Texts given to debug, whether verbose or not.
    std::string debugged();
    std::string takeDebugged();
    // Messages given to log, without the time stamp; they reach the log
    // file too when a log path is set.
    std::vector<std::string> logged();
    int flushes();
    // Forgets everything kept.
    void clear();

    void vprintRaw(const char* format, va_list args) override;
    void vprint(const char* format, va_list args) override;
    void vdebug(const char* format, va_list args) override;
    void vlog(const char* format, va_list args) override;

protected:
    void writeOutput(const char* text, int length) override;
    void flushOutput() override;

private:
    std::mutex lock_;
    std::string text_;
    std::vector<std::string> printed_;
    std::string debugged_;
    std::vector<std::string> logged_;
    int flushes_ = 0;
    bool installed_;
    UIGateway* previous_ = nullptr;
};

}  // namespace support

#include "support/ui_capture.h"

#include <algorithm>
#include <utility>

#include "v4ada/string/owned_string.h"

namespace support {

namespace {

std::string formatted(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    OwnedString text;
    text.vformat(format, copy);
    va_end(copy);
    return text.c_str() != nullptr ? text.c_str() : "";
}

}  // namespace

CaptureUI::CaptureUI(Install install) : installed_(install == Install::kCurrent) {
    if (installed_) previous_ = setCurrentUI(this);
}

CaptureUI::~CaptureUI() {
    if (installed_) setCurrentUI(previous_);
}

std::string CaptureUI::text() {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
}

std::string CaptureUI::takeText() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(text_, std::string());
}

std::vector<std::string> CaptureUI::printed() {
    std::lock_guard<std::mutex> guard(lock_);
    return printed_;
}

std::vector<std::string> CaptureUI::printedDuring(const std::function<void()>& fn) {
    size_t before = printed().size();
    fn();
    std::vector<std::string> all = printed();
    return std::vector<std::string>(all.begin() + static_cast<long>(std::min(before, all.size())), all.end());
}

std::string CaptureUI::debugged() {
    std::lock_guard<std::mutex> guard(lock_);
    return debugged_;
}

std::string CaptureUI::takeDebugged() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(debugged_, std::string());
}

std::vector<std::string> CaptureUI::logged() {
    std::lock_guard<std::mutex> guard(lock_);
    return logged_;
}

int CaptureUI::flushes() {
    std::lock_guard<std::mutex> guard(lock_);
    return flushes_;
}

void CaptureUI::clear() {
    std::lock_guard<std::mutex> guard(lock_);
    text_.clear();
    printed_.clear();
    debugged_.clear();
    logged_.clear();
    flushes_ = 0;
}

void CaptureUI::vprint(const char* format, va_list args) {
    std::string line = formatted(format, args);
    {
        std::lock_guard<std::mutex> guard(lock_);
        printed_.push_back(line);
    }
    UIGateway::vprint(format, args);
}

void CaptureUI::vprintRaw(const char* format, va_list args) {
    std::string piece = formatted(format, args);
    {
        std::lock_guard<std::mutex> guard(lock_);
        printed_.push_back(piece);
    }
    UIGateway::vprintRaw(format, args);
}

void CaptureUI::vdebug(const char* format, va_list args) {
    std::string piece = formatted(format, args);
    {
        std::lock_guard<std::mutex> guard(lock_);
        debugged_ += piece;
    }
    UIGateway::vdebug(format, args);
}

void CaptureUI::vlog(const char* format, va_list args) {
    std::string message = formatted(format, args);
    {
        std::lock_guard<std::mutex> guard(lock_);
        logged_.push_back(message);
    }
    UIGateway::vlog(format, args);
}

void CaptureUI::writeOutput(const char* text, int length) {
    if (text == nullptr || length <= 0) return;
    std::lock_guard<std::mutex> guard(lock_);
    text_.append(text, static_cast<size_t>(length));
}

void CaptureUI::flushOutput() {
    std::lock_guard<std::mutex> guard(lock_);
    flushes_++;
}

}  // namespace support

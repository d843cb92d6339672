#include "support/debug_capture.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "v4ada/file/debug_file.h"
#include "v4ada/memory/malloc4.h"

namespace support {

DebugCapture::DebugCapture() : previous_(debug_output()) { set_debug_output(&file_); }

DebugCapture::~DebugCapture() {
    set_debug_output(previous_);
    i4_free(file_.data());
}

std::string DebugCapture::text() {
    return std::string(reinterpret_cast<const char*>(file_.data()), static_cast<size_t>(file_.size()));
}

StderrCapture::StderrCapture() {
    fflush(stderr);
    char name[] = "/tmp/tandrel-stderr-XXXXXX";
    file_ = ::mkstemp(name);
    if (file_ < 0) return;
    ::unlink(name);
    saved_ = ::dup(2);
    ::dup2(file_, 2);
}

StderrCapture::~StderrCapture() {
    fflush(stderr);
    if (saved_ >= 0) {
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    if (file_ >= 0) ::close(file_);
}

std::string StderrCapture::text() {
    fflush(stderr);
    std::string out;
    if (file_ < 0) return out;
    char buffer[4096];
    for (off_t at = 0;;) {
        ssize_t n = ::pread(file_, buffer, sizeof buffer, at);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
        at += n;
    }
    return out;
}

}  // namespace support

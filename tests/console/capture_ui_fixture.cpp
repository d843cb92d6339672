#include "console/capture_ui_fixture.h"

CaptureUI::CaptureUI() { previous_ = setCurrentUI(this); }

CaptureUI::~CaptureUI() { setCurrentUI(previous_); }

std::string CaptureUI::text() {
    SysMutexGuard guard(&lock_);
    return text_;
}

void CaptureUI::clearText() {
    SysMutexGuard guard(&lock_);
    text_.clear();
}

void CaptureUI::writeOutput(const char* text, int length) {
    SysMutexGuard guard(&lock_);
    text_.append(text, static_cast<size_t>(length));
}

// CaptureUI: an output gateway that keeps what it would write to standard
// output, installed as the current gateway for the life of the object.
#pragma once

#include <string>

#include "core/ui/ui_gateway.h"
#include "v4ada/threads/linux/sys_mutex.h"

class CaptureUI : public UIGateway {
public:
    CaptureUI();
    ~CaptureUI() override;

    std::string text();
    void clearText();

protected:
    void writeOutput(const char* text, int length) override;
    void flushOutput() override {}

private:
    SysMutex lock_;
    std::string text_;
    UIGateway* previous_;
};

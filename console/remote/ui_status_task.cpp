#include "console/remote/ui_status_task.h"

#include "console/remote/gui_controller.h"

bool UIStatusTask::tick(int elapsedMs) {
    if (!controller_) return false;
    if (elapsedMs > 0) elapsed_ = elapsedMs > INT32_MAX - elapsed_ ? INT32_MAX : elapsed_ + elapsedMs;
    if (elapsed_ > interval_) {
        elapsed_ = 0;
        controller_->sendStatus();
    }
    return false;
}

// UIStatusTask: the task that pushes the download and upload status to the
// controller. Each controller owns one; it is in the task thread's list
// only while one of the controller's push flags is on.
#pragma once

#include <cstdint>

#include "core/task/time_slice_task.h"

class GUIController;

class UIStatusTask : public TimeSliceTask {
public:
    void setController(GUIController* controller) { controller_ = controller; }
    void setInterval(int ms) { interval_ = ms; }

    // Without a controller nothing; else counts the time and, once it
    // exceeds the interval, starts over and has the controller send its
    // status. Never reports work done.
    bool tick(int elapsedMs) override;

    int elapsed() const { return elapsed_; }

private:
    GUIController* controller_ = nullptr;
    int32_t interval_ = 0;
    int32_t elapsed_ = 0;
};

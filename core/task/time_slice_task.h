// TimeSliceTask: a piece of periodic work ticked by the task thread.
#pragma once

class TimeSliceTask {
public:
    // Does one slice of work; elapsedMs is the time since the task thread's
    // previous step. True when the slice did something, which makes the
    // task thread come back sooner.
    virtual bool tick(int elapsedMs) = 0;

protected:
    // Tasks are never deleted through this interface.
    ~TimeSliceTask() = default;
};

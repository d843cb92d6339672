// ShutdownStep: one step of the shutdown, run when the scope that made it
// ends, normally or by an error. The entry puts one up after each start-up
// step, so the shutdown undoes them in the reverse order, and a start-up
// that fails half-way undoes what it had done.
#pragma once

#include <functional>
#include <utility>

class ShutdownStep {
public:
    explicit ShutdownStep(std::function<void()> step) : step_(std::move(step)) {}
    ~ShutdownStep() {
        if (step_) step_();
    }
    ShutdownStep(const ShutdownStep&) = delete;
    ShutdownStep& operator=(const ShutdownStep&) = delete;

private:
    std::function<void()> step_;
};

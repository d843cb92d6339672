#include "console/cli/flock_clc.h"

#include <cstdio>
#include <string>

#include "console/cli/command_table.h"
#include "core/ui/ui_gateway.h"

std::atomic<FlockCLC*> consoleClient{nullptr};

namespace {

constexpr const char* kLineTooLong = "Line too long (more than %d characters): not run.";

}  // namespace

FlockCLC::FlockCLC(int inputFd) : Servant(inputFd) { build_command_table(this); }

FlockCLC::~FlockCLC() = default;

void FlockCLC::readCommand(MessageQ* bus) {
    fputs(prompt(), stdout);
    fflush(stdout);

    std::string line;
    switch (input()->readLine(line, &Servant::keepWaiting, this)) {
        case ConsoleLineReader::Result::kStopped:
            // A shutdown was requested while the prompt waited.
            fputs("\n", stdout);
            fflush(stdout);
            return;
        case ConsoleLineReader::Result::kEnd:
            // Nothing more can be typed: shut down in order.
            fputs("\n", stdout);
            fflush(stdout);
            requestStop();
            return;
        case ConsoleLineReader::Result::kTooLong:
            if (UIGateway* ui = currentUI())
                ui->print(kLineTooLong, static_cast<int>(ConsoleLineReader::kMaxLine));
            return;
        case ConsoleLineReader::Result::kLine:
            break;
    }

    if (line == "q") {
        askQuit(this);
        return;
    }
    runAndWait(bus, line.c_str(), true);
    fflush(stdout);
    showPages();
    fflush(stdout);
}

// FlockCLC: the client's command interpreter with its command table and
// the console step that reads, runs and pages one typed line.
#pragma once

#include <atomic>

#include "console/cli/servant.h"

class FlockCLC : public Servant {
public:
    // Builds the command table (help texts looked up now).
    explicit FlockCLC(int inputFd = 0);
    ~FlockCLC() override;

    // One console step on the console thread: the prompt, one whole line,
    // then the line runs on the task thread and its collected output is
    // paged. The typed line "q" asks its question here. End of input
    // requests the shutdown; a shutdown requested meanwhile ends the step.
    void readCommand(MessageQ* bus);
};

// The same interpreter as consoleServant, typed for the client's own parts.
extern std::atomic<FlockCLC*> consoleClient;

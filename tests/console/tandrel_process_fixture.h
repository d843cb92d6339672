// Runs the built tandrel program in a scratch working directory, fed
// through a pipe or a pseudo-terminal, with time-outs so that a hung child
// never hangs the test run.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/daemon.h"
#include "support/temp_dir.h"

std::string tandrel_binary();

class TandrelProcess {
public:
    enum class Mode { kPipes, kMergedPipes, kTerminal };

    TandrelProcess() = default;
    ~TandrelProcess();
    TandrelProcess(const TandrelProcess&) = delete;
    TandrelProcess& operator=(const TandrelProcess&) = delete;

    // Starts the program in dir with the arguments.
    bool start(const std::string& dir, const std::vector<std::string>& args, Mode mode);
    void write(const std::string& text);
    // Ends the program's input (pipes only).
    void closeInput();
    // Reads output until it holds text (after `from`), or the time passes.
    bool waitFor(const std::string& text, int timeoutMs, size_t from = 0);
    // Takes what the program printed so far, without waiting.
    void drain() { pump(0); }
    // The same over the whole output, the progress lines included.
    bool waitForRaw(const std::string& text, int timeoutMs);
    // The same over the error output (pipes only).
    bool waitForErr(const std::string& text, int timeoutMs);
    void sendSignal(int signal);
    // Waits for the exit, reading output; false on time-out (the child is
    // then killed).
    bool waitExit(int timeoutMs);

    // Standard output (and, merged or on a terminal, standard error),
    // without the lines of the start-up hashing of shared files ("Loading
    // shared files...", "Done loading shared files."), which the hashing
    // thread prints at its own pace between the console's lines.
    const std::string& out() const { return out_; }
    // Everything, those lines included.
    const std::string& raw() const { return raw_; }
    const std::string& err() const { return err_; }
    // Exit status, or 128 + signal number when a signal ended the child.
    int status() const { return status_; }

private:
    // One poll round over the output descriptors; false when both ended.
    bool pump(int timeoutMs);
    // Takes the complete progress lines out of out_.
    void dropProgressLines();
    // Reads output until the stream (raw_ or err_) holds text, or the time
    // passes.
    bool waitIn(const std::string& stream, const std::string& text, int timeoutMs);

    Mode mode_ = Mode::kPipes;
    pid_t pid_ = -1;
    int in_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_;
    std::string raw_;
    std::string err_;
    int status_ = -1;
};

// Every expected text appears in the output, in this order.
::testing::AssertionResult in_order(const std::string& out, const std::vector<std::string>& texts);

// Waits for the hashing thread's last line ("Done loading shared files."),
// which reaches a pipe as soon as it is printed.
bool wait_for_shares_loaded(TandrelProcess& process, int timeoutMs);

// A fresh scratch directory per test, removed afterwards.
class TandrelTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the program with the input, closing the input after it, and
    // waits for its exit.
    int runWith(const std::vector<std::string>& args, const std::string& input,
                TandrelProcess::Mode mode = TandrelProcess::Mode::kPipes, int timeoutMs = 20000);
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string readFile(const std::string& name) const;
    bool exists(const std::string& name) const;

    support::TempDir scratch_;
    std::string dir_;  // scratch_'s path
    // The door port and the overlay's UDP port of every run in dir_:
    // pref.met names them, so runs in parallel never meet on one port.
    support::PortLease doorLease_;
    TandrelProcess process_;
};

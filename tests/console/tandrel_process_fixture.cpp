#include "console/tandrel_process_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "core/strings/priority_names.h"
#include "overlay/gateway/flock_self.h"
#include "support/files.h"
#include "transfer/options/transfer_options.h"

namespace {

using Clock = std::chrono::steady_clock;

int remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

std::string tandrel_binary() { return std::string(TANDREL_BINARY_DIR) + "/tandrel"; }

TandrelProcess::~TandrelProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close_fd(in_);
    if (err_fd_ != out_fd_) close_fd(err_fd_);
    close_fd(out_fd_);
}

bool TandrelProcess::start(const std::string& dir, const std::vector<std::string>& args, Mode mode) {
    mode_ = mode;
    std::string binary = tandrel_binary();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    if (mode == Mode::kTerminal) {
        int master = -1;
        winsize size{};
        size.ws_row = 50;
        size.ws_col = 200;
        pid_t pid = forkpty(&master, nullptr, nullptr, &size);
        if (pid < 0) return false;
        if (pid == 0) {
            if (chdir(dir.c_str()) != 0) _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        pid_ = pid;
        in_ = master;
        out_fd_ = dup(master);
        return true;
    }

    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return false;
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(mode == Mode::kMergedPipes ? out[1] : err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        if (chdir(dir.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    pid_ = pid;
    in_ = in[1];
    out_fd_ = out[0];
    if (mode == Mode::kMergedPipes) {
        close(err[0]);
    } else {
        err_fd_ = err[0];
    }
    return true;
}

void TandrelProcess::write(const std::string& text) {
    size_t done = 0;
    while (in_ >= 0 && done < text.size()) {
        ssize_t n = ::write(in_, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

void TandrelProcess::closeInput() {
    if (mode_ != Mode::kTerminal) close_fd(in_);
}

bool TandrelProcess::pump(int timeoutMs) {
    pollfd fds[2];
    int n = 0;
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (n == 0) return false;
    if (poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
    for (int i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buffer[4096];
        ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        bool isOut = fds[i].fd == out_fd_;
        if (got <= 0) {
            if (isOut) {
                close_fd(out_fd_);
            } else {
                close_fd(err_fd_);
            }
            continue;
        }
        if (isOut) {
            out_.append(buffer, static_cast<size_t>(got));
            raw_.append(buffer, static_cast<size_t>(got));
            dropProgressLines();
        } else {
            err_.append(buffer, static_cast<size_t>(got));
        }
    }
    return true;
}

void TandrelProcess::dropProgressLines() {
    for (const char* line : {"Loading shared files...", "Done loading shared files."}) {
        for (const char* end : {"\r\n", "\n"}) {
            std::string whole = std::string(line) + end;
            for (size_t at = out_.find(whole); at != std::string::npos; at = out_.find(whole, at)) out_.erase(at, whole.size());
        }
    }
}

bool TandrelProcess::waitForRaw(const std::string& text, int timeoutMs) { return waitIn(raw_, text, timeoutMs); }

bool TandrelProcess::waitForErr(const std::string& text, int timeoutMs) { return waitIn(err_, text, timeoutMs); }

bool TandrelProcess::waitIn(const std::string& stream, const std::string& text, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stream.find(text) != std::string::npos) return true;
        int left = remaining(deadline);
        if (left == 0 || !pump(left < 50 ? left : 50)) return stream.find(text) != std::string::npos;
    }
}

bool TandrelProcess::waitFor(const std::string& text, int timeoutMs, size_t from) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (out_.find(text, from) != std::string::npos) return true;
        int left = remaining(deadline);
        if (left == 0 || !pump(left < 50 ? left : 50)) {
            return out_.find(text, from) != std::string::npos;
        }
    }
}

void TandrelProcess::sendSignal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

bool TandrelProcess::waitExit(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
        int raw = 0;
        pid_t done = waitpid(pid_, &raw, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            pid_ = -1;
            break;
        }
        if (remaining(deadline) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return false;
        }
        pump(20);
    }
    // What is left in the pipes (a terminal reports an error once the
    // child is gone).
    auto drain = Clock::now() + std::chrono::milliseconds(2000);
    while ((out_fd_ >= 0 || err_fd_ >= 0) && remaining(drain) > 0) {
        if (!pump(50)) break;
    }
    return true;
}

::testing::AssertionResult in_order(const std::string& out, const std::vector<std::string>& texts) {
    size_t at = 0;
    for (const std::string& text : texts) {
        size_t found = out.find(text, at);
        if (found == std::string::npos)
            return ::testing::AssertionFailure() << "missing after offset " << at << ": [" << text << "] in\n" << out;
        at = found + text.size();
    }
    return ::testing::AssertionSuccess();
}

void TandrelTest::SetUp() {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
    ASSERT_NE(doorLease_.port(), 0);
    initSpecialTags();
    {
        CoreOptions options;
        options.loadFrom(dir_.c_str());
        options.setIntOption(kOptDoorPort, doorLease_.port());
        // The overlay's UDP port: the lease is free for both protocols.
        options.setIntOption(kOptAnnexPort, doorLease_.port());
        EXPECT_TRUE(options.save());
    }
    freePriorityNames();
    resetSpecialTags();
}

void TandrelTest::TearDown() {}

int TandrelTest::runWith(const std::vector<std::string>& args, const std::string& input,
                         TandrelProcess::Mode mode, int timeoutMs) {
    EXPECT_TRUE(process_.start(dir_, args, mode));
    process_.write(input);
    process_.closeInput();
    EXPECT_TRUE(process_.waitExit(timeoutMs)) << "tandrel did not end; output:\n" << process_.out();
    return process_.status();
}

std::string TandrelTest::readFile(const std::string& name) const {
    std::string text = support::read_file(path(name));
    return text == "<missing>" ? "" : text;
}

bool TandrelTest::exists(const std::string& name) const { return support::file_exists(path(name)); }

bool wait_for_shares_loaded(TandrelProcess& process, int timeoutMs) {
    // The hashing thread's lines reach the pipe as they are printed; no
    // command is needed to push them out.
    return process.waitForRaw("Done loading shared files.", timeoutMs);
}

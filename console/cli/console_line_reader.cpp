#include "console/cli/console_line_reader.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

ConsoleLineReader::ConsoleLineReader(int fd, size_t maxLine) : fd_(fd), maxLine_(maxLine) {}

bool ConsoleLineReader::isTerminal() const { return isatty(fd_) == 1; }

int ConsoleLineReader::fill(KeepWaiting keepWaiting, void* context) {
    if (ended_) return 0;
    for (;;) {
        if (keepWaiting && !keepWaiting(context)) return -1;
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, kPollStepMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            ended_ = true;
            return 0;
        }
        if (ready == 0) continue;
        char chunk[kChunk];
        ssize_t n = read(fd_, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            ended_ = true;
            return 0;
        }
        if (n == 0) {
            ended_ = true;
            return 0;
        }
        pending_.append(chunk, static_cast<size_t>(n));
        return 1;
    }
}

ConsoleLineReader::Result ConsoleLineReader::readLine(std::string& line, KeepWaiting keepWaiting,
                                                      void* context) {
    SysMutexGuard guard(&lock_);
    line.clear();
    for (;;) {
        size_t feed = pending_.find('\n');
        if (discarding_) {
            if (feed != std::string::npos) {
                pending_.erase(0, feed + 1);
                discarding_ = false;
                return Result::kTooLong;
            }
            pending_.clear();
        } else if (feed != std::string::npos) {
            if (feed > maxLine_) {
                pending_.erase(0, feed + 1);
                return Result::kTooLong;
            }
            line.assign(pending_, 0, feed);
            pending_.erase(0, feed + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Result::kLine;
        } else if (pending_.size() > maxLine_) {
            pending_.clear();
            discarding_ = true;
        }

        int got = fill(keepWaiting, context);
        if (got < 0) return Result::kStopped;
        if (got == 0) {
            if (discarding_) {
                discarding_ = false;
                return Result::kTooLong;
            }
            if (pending_.empty()) return Result::kEnd;
            // The last line ends with the input.
            line.swap(pending_);
            pending_.clear();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return Result::kLine;
        }
    }
}

int ConsoleLineReader::readKey(KeepWaiting keepWaiting, void* context) {
    SysMutexGuard guard(&lock_);
    termios saved{};
    bool terminal = tcgetattr(fd_, &saved) == 0;
    if (terminal) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &raw);
    }
    int key = -1;
    if (pending_.empty()) fill(keepWaiting, context);
    if (!pending_.empty()) {
        key = static_cast<unsigned char>(pending_[0]);
        pending_.erase(0, 1);
    }
    if (terminal) tcsetattr(fd_, TCSANOW, &saved);
    return key;
}

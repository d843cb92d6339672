// ConsoleLineReader: whole lines and single keys from the console's input
// descriptor (standard input in the program, a pipe in tests).
//
// Reads wait on the descriptor with a short poll time-out and ask the
// caller's keepWaiting test between waits, so a shutdown requested while
// the console waits for input is noticed within kPollStepMs. A line longer
// than the bound is refused whole: its bytes are dropped up to its line
// feed and the read reports kTooLong, so a long line never runs in pieces.
//
// One reader serves the whole console, and only the console thread reads
// it (a question asked by a command running elsewhere would stall that
// thread on the user); its own lock keeps two readers apart all the same.
#pragma once

#include <cstddef>
#include <string>

#include "v4ada/threads/linux/sys_mutex.h"

class ConsoleLineReader {
public:
    enum class Result { kLine, kEnd, kTooLong, kStopped };

    // Longest line taken, line feed excluded.
    static constexpr size_t kMaxLine = 64 * 1024;
    // How long one wait on the descriptor lasts before keepWaiting is asked.
    static constexpr int kPollStepMs = 100;
    // Bytes taken from the descriptor per read.
    static constexpr size_t kChunk = 4096;

    using KeepWaiting = bool (*)(void* context);

    explicit ConsoleLineReader(int fd, size_t maxLine = kMaxLine);
    ConsoleLineReader(const ConsoleLineReader&) = delete;
    ConsoleLineReader& operator=(const ConsoleLineReader&) = delete;

    // One line without its line feed (a carriage return before it is
    // dropped too). kEnd: the input ended (or failed) before a line feed;
    // a last line without line feed is still returned as kLine first.
    // kStopped: keepWaiting answered false while no line was complete; the
    // bytes read so far stay for the next read.
    Result readLine(std::string& line, KeepWaiting keepWaiting, void* context);
    // One byte, without waiting for Enter and without echo when the input
    // is a terminal. -1 at end of input, on a read error or when stopped.
    int readKey(KeepWaiting keepWaiting, void* context);

    bool isTerminal() const;
    int fd() const { return fd_; }

private:
    // Waits for bytes and appends them to pending_. 1: bytes came; 0: end
    // of input or error; -1: stopped.
    int fill(KeepWaiting keepWaiting, void* context) TS_REQUIRES(lock_);

    SysMutex lock_;
    int fd_;
    size_t maxLine_;
    std::string pending_ TS_GUARDED_BY(lock_);  // bytes read and not yet handed out
    bool ended_ TS_GUARDED_BY(lock_) = false;
    bool discarding_ TS_GUARDED_BY(lock_) = false;  // inside a refused line, up to its line feed
};

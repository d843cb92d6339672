// Helpers of the sharing tests: a scratch directory, an output gateway
// that keeps what is shown, and a bus whose messages are kept for the
// test to look at.
#pragma once

#include <string>
#include <vector>

#include "core/bus/message.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/threads/linux/sys_mutex.h"

class SharingDir {
public:
    SharingDir();
    ~SharingDir();
    SharingDir(const SharingDir&) = delete;
    SharingDir& operator=(const SharingDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Writes the file (creating directories on the way); reads it back
// ("<missing>" when it cannot be opened).
void put_file(const std::string& path, const std::string& bytes);
std::string get_file(const std::string& path);
bool exists(const std::string& path);
// A u16 LE length and the bytes.
std::string counted(const std::string& text);

// The current gateway while it lives; keeps printed text and debug text
// (whether verbose or not).
class SharingOutput : public UIGateway {
public:
    SharingOutput();
    ~SharingOutput() override;
    std::string text();
    std::string debugged();
    void clear();

    void vdebug(const char* format, va_list args) override;

protected:
    void writeOutput(const char* text, int length) override;
    void flushOutput() override {}

private:
    SysMutex lock_;
    std::string text_;
    std::string debug_;
    UIGateway* previous_;
};

// Makes the process-wide bus for its life and keeps every message posted
// on it (the data stays with the test: take() hands it over).
class BusRecorder : public MessageHandler {
public:
    BusRecorder();
    ~BusRecorder();
    void handle(Message* message) override;
    // Delivers every queued message.
    void drain();
    // The messages posted so far, oldest first; forgets them.
    std::vector<Message> take();
    // The same, only those of one code.
    std::vector<Message> take(int code);

private:
    std::vector<Message> seen_;
};

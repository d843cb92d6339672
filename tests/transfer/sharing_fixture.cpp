#include "transfer/sharing_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/bus/message_q.h"
#include "v4ada/string/owned_string.h"

namespace fs = std::filesystem;

SharingDir::SharingDir() {
    std::string base = std::string(TANDREL_BINARY_DIR) + "/scratch";
    fs::create_directories(base);
    std::string pattern = base + "/transfer-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
}

SharingDir::~SharingDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void put_file(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string get_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool exists(const std::string& path) { return fs::exists(path); }

std::string counted(const std::string& text) {
    std::string out;
    out.push_back(static_cast<char>(text.size() & 0xFF));
    out.push_back(static_cast<char>((text.size() >> 8) & 0xFF));
    return out + text;
}

SharingOutput::SharingOutput() { previous_ = setCurrentUI(this); }

SharingOutput::~SharingOutput() { setCurrentUI(previous_); }

std::string SharingOutput::text() {
    SysMutexGuard guard(&lock_);
    return text_;
}

std::string SharingOutput::debugged() {
    SysMutexGuard guard(&lock_);
    return debug_;
}

void SharingOutput::clear() {
    SysMutexGuard guard(&lock_);
    text_.clear();
    debug_.clear();
}

void SharingOutput::vdebug(const char* format, va_list args) {
    OwnedString line;
    line.vformat(format, args);
    SysMutexGuard guard(&lock_);
    debug_.append(line.c_str() ? line.c_str() : "");
}

void SharingOutput::writeOutput(const char* text, int length) {
    SysMutexGuard guard(&lock_);
    text_.append(text, static_cast<size_t>(length));
}

BusRecorder::BusRecorder() {
    message_bus_create();
    for (int code = 0; code < kMessageCodeCount; code++) messageQ->setHandler(this, code);
}

BusRecorder::~BusRecorder() { message_bus_destroy(); }

void BusRecorder::handle(Message* message) { seen_.push_back(*message); }

void BusRecorder::drain() {
    while (messageQ->tick(0)) {
    }
}

std::vector<Message> BusRecorder::take() {
    drain();
    std::vector<Message> out;
    out.swap(seen_);
    return out;
}

std::vector<Message> BusRecorder::take(int code) {
    std::vector<Message> out;
    for (const Message& message : take())
        if (message.code == code) out.push_back(message);
    return out;
}

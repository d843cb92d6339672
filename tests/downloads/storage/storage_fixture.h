// Helpers of the storage tests: a scratch directory, captured output and
// small file helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ui/ui_gateway.h"
#include "v4ada/threads/linux/sys_mutex.h"

namespace storage_test {

using Bytes = std::vector<uint8_t>;

// A fresh directory under the build tree, removed with its content.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The current output gateway while it lives; keeps what is shown.
class Output : public UIGateway {
public:
    Output();
    ~Output() override;
    // Everything printed, raw or as lines (with "\n"), then forgotten.
    std::string take();
    std::string text();

protected:
    void writeOutput(const char* text, int length) override;
    void flushOutput() override {}

private:
    SysMutex lock_;
    std::string text_;
    UIGateway* previous_;
};

void writeBytes(const std::string& path, const Bytes& bytes);
Bytes readBytes(const std::string& path);
bool exists(const std::string& path);
// n bytes of a pattern that differs per seed.
Bytes pattern(size_t n, uint32_t seed = 1);

}  // namespace storage_test

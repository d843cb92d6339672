// Log lines of many threads: each call must give exactly one whole line.
#include <atomic>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/ui_capture.h"
#include "support/temp_dir.h"
#include "core/ui/ui_gateway.h"

using namespace support;

namespace {

constexpr int kThreads = 8;
constexpr int kLinesEach = 150;

class SilentGateway : public support::CaptureUI {
public:
    SilentGateway() : CaptureUI(Install::kDetached) {}
};

TEST(UIGatewayLogThreads, ConcurrentWritersNeverInterleave) {
    support::TempDir dir;
    std::string path = dir / "log.txt";
    SilentGateway ui;
    ui.setLogPath(path.c_str());
    setCurrentUI(&ui);

    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            // Long bodies make a split write likely if lines were written in pieces.
            std::string body(2000 + t * 97, static_cast<char>('a' + t));
            for (int i = 0; i < kLinesEach; i++) {
                currentUI()->log("t%d n%d %s", t, i, body.c_str());
                currentUI()->setVerbose(i % 2 == 0);
                currentUI()->debug("");
            }
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    setCurrentUI(nullptr);

    std::string all = read_file(path);
    ASSERT_FALSE(all.empty());
    ASSERT_EQ(all.back(), '\n');
    const std::regex line(R"(\[ [^\]\n]{24} \]: t([0-9]+) n([0-9]+) ([a-z]+))");
    std::set<std::pair<int, int>> seen;
    size_t start = 0, count = 0;
    for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1, count++) {
        std::string text = all.substr(start, end - start);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, line)) << "line " << count << ": " << text.substr(0, 80);
        int t = std::stoi(m[1]), i = std::stoi(m[2]);
        ASSERT_EQ(m[3].str(), std::string(2000 + t * 97, static_cast<char>('a' + t)));
        seen.insert({t, i});
    }
    EXPECT_EQ(count, static_cast<size_t>(kThreads * kLinesEach));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLinesEach));
}

}  // namespace

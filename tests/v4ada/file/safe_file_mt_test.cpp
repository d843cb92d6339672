#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "v4ada/file/fs.h"
#include "v4ada/file/path_lock.h"
#include "v4ada/file/safe_file.h"
#include "support/files.h"
#include "support/temp_dir.h"

using namespace support;

// Saves of one file from several threads run one after another: each save
// succeeds and the file always holds one save's complete content.
TEST(SafeFileThreads, SavesOfOnePathAreSerialised) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string path = dir / "known.met";
    constexpr int kThreads = 4;
    constexpr int kSaves = 25;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::string chunk(512, static_cast<char>('a' + t));
            for (int s = 0; s < kSaves; ++s) {
                i4_safe_file safe(path.c_str(), kFsWrite | kFsTruncate);
                if (safe.file() == nullptr) {
                    failures[t]++;
                    continue;
                }
                for (int c = 0; c < 16; ++c) safe.file()->write(chunk.data(), 512);
                if (!safe.close()) failures[t]++;
                std::string now = read_file(path);
                if (now.size() != 16 * 512 || now.find_first_not_of(now[0]) != std::string::npos) failures[t]++;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(path_lock_count(), 0);
    EXPECT_FALSE(file_exists(path + ".tmp"));
}

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <set>
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

// Two spellings of one file ("f" against the current directory and
// "./sub/../f" style paths) share one lock: each save's content is kept
// whole and no save reports success while another's replaced it.
TEST(SafeFileThreads, SpellingsOfOnePathShareTheLock) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "link").c_str()), 0);
    const std::string spellings[] = {dir / "known.met", dir / "./known.met", dir / "sub/../known.met",
                                     dir / "link/known.met"};
    std::set<std::string> keys;
    for (const std::string& path : spellings) keys.insert(path_lock_key(path.c_str()));
    EXPECT_EQ(keys.size(), 1u);

    constexpr int kSaves = 25;
    std::vector<int> failures(std::size(spellings), 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < std::size(spellings); ++t) {
        threads.emplace_back([&, t] {
            std::string chunk(512, static_cast<char>('a' + t));
            for (int s = 0; s < kSaves; ++s) {
                i4_safe_file safe(spellings[t].c_str(), kFsWrite | kFsTruncate);
                if (safe.file() == nullptr) {
                    failures[t]++;
                    continue;
                }
                for (int c = 0; c < 16; ++c) safe.file()->write(chunk.data(), 512);
                if (!safe.close()) failures[t]++;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t t = 0; t < std::size(spellings); ++t) EXPECT_EQ(failures[t], 0) << spellings[t];
    std::string now = read_file(dir / "known.met");
    EXPECT_TRUE(now.size() == 16 * 512 && now.find_first_not_of(now[0]) == std::string::npos);
    EXPECT_EQ(path_lock_count(), 0);
}

// Crash safety by real kills: a child process drives a download through
// data, record saves and completion, and is killed with SIGKILL at a random
// moment; the next child resumes from what is on disk. However the kills
// fall, the file ends in the incoming directory byte-exact, and whatever
// was on disk between kills could be resumed.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/options/core_options.h"
#include "downloads/pool/download_state.h"
#include "support/download_world.h"
#include "support/files.h"
#include "support/part_digests.h"
#include "support/temp_dir.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

constexpr uint64_t kPiece = 65536;

// The download side of a child or of the final check, on the given
// directories.
void useDirectories(DownloadWorld& world, const std::string& temp, const std::string& incoming) {
    world.temp = temp;
    world.incoming = incoming;
    world.settings.set(temp, incoming);
}

// The download of the data, resumed from the temporary directory or
// started; null when it is neither.
Download* resumeOrStart(DownloadWorld& world, const Bytes& data, const char* name) {
    world.pool->loadPartials(world.temp.c_str());
    std::unique_ptr<FileMeta> record = world.record(data, name);
    Download* d = world.pool->findDownload(record->fileHash());
    if (d) {
        world.hold(d);
        d->release();
        world.step(0);
        return d;
    }
    return world.start(data, name);
}

// The child: pieces in a random order, checks run now and then, a record
// save every few pieces, then completion. Exits 0 when the file is done.
[[noreturn]] void child(const std::string& temp, const std::string& incoming, const Bytes& data, bool single,
                        uint32_t seed) {
    {
        DownloadWorld world;
        useDirectories(world, temp, incoming);
        coreOptions()->setPartStyle(single);
        Download* d = resumeOrStart(world, data, "crash.bin");
        if (d == nullptr) _exit(3);
        world.feeder(d);
        world.step(0);
        std::vector<uint64_t> starts;
        for (uint64_t at = 0; at < data.size(); at += kPiece) starts.push_back(at);
        std::shuffle(starts.begin(), starts.end(), std::mt19937(seed));
        int n = 0;
        for (uint64_t start : starts) {
            world.feed(d, data, start, std::min<uint64_t>(start + kPiece, data.size()));
            if (++n % 4 == 0) world.settle();
            if (n % 8 == 0) world.step(DLPool::kSaveMs);
        }
        world.settle();
        world.completions();
        world.step(0);
    }
    _exit(0);
}

// Files of the incoming directory: the one that holds the data and nothing
// else (within one file system a finished file is moved in by one rename
// that never reserves or replaces a name).
bool incomingHoldsTheFile(const std::string& incoming, const Bytes& data) {
    bool found = false;
    for (const auto& entry : fs::directory_iterator(incoming)) {
        Bytes bytes = read_bytes(entry.path().string());
        if (bytes == data) {
            found = true;
        } else {
            ADD_FAILURE() << entry.path() << " holds " << bytes.size() << " other bytes";
        }
    }
    return found;
}

// Runs one child in dir; kills it after delay unless delay is negative.
// Returns how long it lived.
std::chrono::microseconds runChild(const std::string& temp, const std::string& incoming, const Bytes& data, bool single,
                                   uint32_t seed, std::chrono::microseconds delay) {
    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return std::chrono::microseconds(0);
    if (pid == 0) child(temp, incoming, data, single, seed);
    if (delay.count() >= 0) {
        // A random moment: the child is killed wherever it is.
        std::this_thread::sleep_for(delay);
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
}

void killAtRandomMoments(bool single, uint64_t size, uint32_t seed) {
    TempDir dir;
    std::string temp = dir / "temp";
    std::string incoming = dir / "incoming";
    Bytes data = pattern_bytes(size, seed);
    // How long a child takes from start to a finished file.
    for (const std::string& path : {temp, incoming, dir / "t0", dir / "i0"}) fs::create_directories(path);
    auto whole = runChild(dir / "t0", dir / "i0", data, single, seed, std::chrono::microseconds(-1));
    std::mt19937 random(seed);
    int rounds = 0;
    for (; rounds < 12 && !incomingHoldsTheFile(incoming, data); rounds++) {
        // Mostly within the work a resumed child has left.
        std::chrono::microseconds delay(random() % std::max<int64_t>(1, whole.count() * 2 / 3));
        runChild(temp, incoming, data, single, seed + static_cast<uint32_t>(rounds), delay);
    }
    // The last word: resume whatever is left and finish it here.
    if (!incomingHoldsTheFile(incoming, data)) {
        DownloadWorld world;
        useDirectories(world, temp, incoming);
        coreOptions()->setPartStyle(single);
        Download* d = resumeOrStart(world, data, "crash.bin");
        ASSERT_NE(d, nullptr);
        world.feeder(d);
        world.step(0);
        world.feed(d, data, 0, data.size());
        world.settle();
        world.completions();
        world.step(0);
        EXPECT_EQ(d->statusCode(), kDlsComplete);
    }
    EXPECT_TRUE(incomingHoldsTheFile(incoming, data)) << "after " << rounds << " kills";
}

// A part verified between two periodic saves is in the record at once: a
// crash right after the check does not send it to be fetched again.
TEST(CrashSafety, AVerifiedPartIsSavedBeforeThePeriodicSave) {
    constexpr uint64_t kPart = 9728000;
    Bytes data = pattern_bytes(2 * kPart + 1000, 73);
    for (bool single : {true, false}) {
        SCOPED_TRACE(single ? "single file" : "part directory");
        TempDir crashed;
        {
            DownloadWorld world;
            coreOptions()->setPartStyle(single);
            Download* d = world.start(data, "early.bin");
            world.feeder(d);
            world.step(0);
            world.feed(d, data, 0, kPart);
            world.settle();
            ASSERT_EQ(d->partialFile()->gaps(), (std::vector<Gap>{{kPart, data.size()}}));
            // The disk as a SIGKILL would leave it, well before the pool's
            // next save.
            fs::copy(world.temp, crashed / "temp", fs::copy_options::recursive);
        }
        fs::create_directories(crashed / "incoming");
        DownloadWorld world;
        useDirectories(world, crashed / "temp", crashed / "incoming");
        coreOptions()->setPartStyle(single);
        Download* d = resumeOrStart(world, data, "early.bin");
        ASSERT_NE(d, nullptr);
        world.settle();
        EXPECT_EQ(d->partialFile()->gaps(), (std::vector<Gap>{{kPart, data.size()}}));
    }
}

TEST(CrashSafety, KilledSingleFileDownloadsLoseNothing) { killAtRandomMoments(true, 3 * 486400 + 1000, 71); }

TEST(CrashSafety, KilledPartDirectoryDownloadsLoseNothing) { killAtRandomMoments(false, 9728000 + 486401, 72); }

}  // namespace

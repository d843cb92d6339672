// Real kills: a child process fetches a download in pieces and saves its
// record now and then (on a storage worker, as the program does), and is
// killed with SIGKILL at a seeded random moment. Whatever the moment, the
// record left behind reads, and the download resumed from it finishes
// byte-exact.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "downloads/storage/comp_partial_file.h"
#include "downloads/storage/part_met.h"
#include "downloads/storage/partial_file_fixture.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/safe_file.h"
#include "v4ada/time/clock_source.h"
#include "v4ada/time/time_value.h"

namespace storage_test {
namespace {

namespace fs = std::filesystem;
constexpr uint64_t kPart = 9728000;
constexpr uint64_t kCrumb = 486400;
constexpr int kRounds = 20;

class KilledDownloads : public PartialFileTest {
protected:
    static PartialFile* make(bool directories, PartialFileOwner* owner) {
        return directories ? new CompPartialFile(owner) : new PartialFile(owner);
    }

    // The child's life: create, then write pieces in a seeded order,
    // applying results, and save every 800 ms of its (manual) clock.
    [[noreturn]] void fetchInChild(bool directories, const Bytes& data, FileMeta* wanted, uint32_t seed) {
        ManualClock clock;
        ScopedClockSource manual(&clock);
        worker = std::make_unique<StorageWorker>(2);
        downloadServices().storage = worker.get();
        PartialFile* file = make(directories, &owner);
        file->addRef();
        if (!file->create(wanted)) _exit(3);
        file->save();
        std::vector<uint64_t> starts;
        for (uint64_t at = 0; at < data.size(); at += 40000) starts.push_back(at);
        std::shuffle(starts.begin(), starts.end(), std::mt19937(seed));
        TimeValue saved;
        for (uint64_t start : starts) {
            put(file, data, start, std::min<uint64_t>(start + 40000, data.size()));
            file->applyResults();
            clock.advanceMs(100);
            TimeValue now;
            if (TimeValue::msBetween(now, saved) >= 800) {
                file->save();
                saved = now;
            }
        }
        file->save(true);
        _exit(0);
    }

    // The record the child left, or an empty path when it left none.
    std::string recordPath(bool directories) {
        std::string path = directories ? settings.temp + "/k.bin/1.part.met" : settings.temp + "/1.part.met";
        return file_exists(path) || file_exists(path + ".bak") ? path : "";
    }

    void resume(bool directories, const Bytes& data) {
        std::string met = recordPath(directories);
        TestOwner second;
        Held<PartialFile> file(make(directories, &second));
        if (met.empty()) {
            ASSERT_TRUE(file->create(record(data, "k.bin").get()));
        } else {
            i4_safe_file in(met.c_str(), kFsRead);
            ASSERT_NE(in.file(), nullptr);
            FileMeta meta;
            uint8_t version = 0;
            OwnedString reason;
            ASSERT_TRUE(decodePartMet(in.file(), &version, meta, reason)) << reason.c_str();
            meta.setPath(met.c_str());
            ASSERT_TRUE(file->load(&meta, 1));
            EXPECT_TRUE(file->verify());
            file->applyResults();
        }
        putAll(file.get(), data, 300000, 4);
        ASSERT_TRUE(file->nothingMissing());
        file->setState(PartialFile::kFinishing);
        ASSERT_EQ(file->complete(), CompleteResult::kComplete);
        ASSERT_EQ(read_bytes(settings.incoming + "/k.bin"), data);
    }

    // Runs the child; kills it after delayUs (never when negative). The
    // child's running time in microseconds.
    int64_t runChild(bool directories, const Bytes& data, uint32_t seed, int64_t delayUs) {
        std::unique_ptr<FileMeta> wanted = record(data, "k.bin");
        auto began = std::chrono::steady_clock::now();
        pid_t child = fork();
        if (child == 0) fetchInChild(directories, data, wanted.get(), seed);
        if (delayUs >= 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
            kill(child, SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (delayUs < 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began)
            .count();
    }

    void clean() {
        names.reset();
        for (const std::string& dir : {settings.temp, settings.incoming}) {
            fs::remove_all(dir);
            fs::create_directories(dir);
        }
    }
};

TEST_F(KilledDownloads, EveryRecordLeftBehindResumesByteExact) {
    std::mt19937 random(2024);
    for (bool directories : {false, true}) {
        SCOPED_TRACE(directories ? "part directories" : "single file");
        Bytes data = pattern_bytes(directories ? kPart + 2 * kCrumb + 7 : 5 * kCrumb + 100, directories ? 7 : 8);
        // One undisturbed run gives the span the kills are spread over.
        clean();
        int64_t span = runChild(directories, data, 1, -1);
        resume(directories, data);
        for (int round = 0; round < kRounds / 2; round++) {
            SCOPED_TRACE(round);
            clean();
            runChild(directories, data, 100 + round, static_cast<int64_t>(random() % static_cast<uint64_t>(span)));
            resume(directories, data);
            if (HasFatalFailure()) return;
        }
    }
}

}  // namespace
}  // namespace storage_test

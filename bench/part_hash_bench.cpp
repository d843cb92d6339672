// part_hash_bench: how fast a shared file is hashed.
//
// Over one file (read from the page cache after a first pass):
//   hashing-thread  the records' own hashing (FileMeta::hashStep), as the
//                   hashing thread runs it: part hashes and crumb hashes,
//                   one pass on one core;
//   parts-only      the part hashes alone (hashFileParts), one core;
//   parts-N         the part and crumb hashes of each part on N cores,
//                   parts handed out in turn (what one file could reach
//                   if its parts were spread over threads).
// Each line: "<name> <MB/s> <file hash>", the hashes compared in between.
//
// Usage: part_hash_bench file [threads]
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/hash_context.h"
#include "core/meta/special_tags.h"
#include "v4ada/digest/md4.h"
#include "v4ada/digest/part_hash.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string hex(const uint8_t* bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < kMd4DigestSize; i++) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

std::string hashingThread(const char* path) {
    HashContext context;
    FileMeta record(path, context);
    while (record.hashStep(context)) {
    }
    return hex(record.fileHash().bytes());
}

std::string partsOnly(const char* path) {
    uint8_t out[kMd4DigestSize];
    if (!hashFileParts(out, path, kPartSizeKiB, nullptr)) return "unreadable";
    return hex(out);
}

// The part and crumb hashes of every part, parts handed out to `threads`.
std::string partsOnThreads(const char* path, int threads) {
    int fd = ::open(path, O_RDONLY);
    if (fd < 0) return "unreadable";
    uint64_t size = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
    uint64_t parts = size == 0 ? 1 : (size + kPartSize - 1) / kPartSize;
    std::vector<uint8_t> digests(parts * kMd4DigestSize);
    std::atomic<uint64_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCrumbSize]);
        for (uint64_t p = next++; p < parts; p = next++) {
            uint64_t from = p * kPartSize;
            uint64_t end = std::min<uint64_t>(size, from + kPartSize);
            Md4Context part;
            for (uint64_t at = from; at < end; at += kCrumbSize) {
                size_t n = static_cast<size_t>(std::min<uint64_t>(kCrumbSize, end - at));
                if (::pread(fd, buffer.get(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n)) {
                    failed = true;
                    return;
                }
                part.update(buffer.get(), n);
                Md4Context crumb;
                crumb.update(buffer.get(), n);
                uint8_t crumbDigest[kMd4DigestSize];
                crumb.final(crumbDigest);
            }
            part.final(&digests[p * kMd4DigestSize]);
        }
    };
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; i++) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    ::close(fd);
    if (failed) return "unreadable";
    uint8_t out[kMd4DigestSize];
    if (parts < 2) {
        std::memcpy(out, digests.data(), kMd4DigestSize);
    } else {
        Md4Context whole;
        whole.update(digests.data(), digests.size());
        whole.final(out);
    }
    return hex(out);
}

template <typename F>
void measure(const char* name, double megabytes, F run) {
    Clock::time_point start = Clock::now();
    std::string hash = run();
    double seconds = secondsSince(start);
    std::printf("%s %.1f %s\n", name, megabytes / seconds, hash.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: part_hash_bench file [threads]\n");
        return 2;
    }
    const char* path = argv[1];
    int threads = argc > 2 ? std::atoi(argv[2]) : static_cast<int>(std::thread::hardware_concurrency());
    if (threads < 1) threads = 1;
    initSpecialTags();
    int fd = ::open(path, O_RDONLY);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    double megabytes = static_cast<double>(::lseek(fd, 0, SEEK_END)) / 1e6;
    ::close(fd);
    partsOnly(path);  // warms the page cache
    measure("hashing-thread", megabytes, [&] { return hashingThread(path); });
    measure("parts-only", megabytes, [&] { return partsOnly(path); });
    std::string name = "parts-" + std::to_string(threads);
    measure(name.c_str(), megabytes, [&] { return partsOnThreads(path, threads); });
    resetSpecialTags();
    return 0;
}

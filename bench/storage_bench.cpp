// storage_bench: received data through download storage, against plain
// pwrite of the same pieces.
//
// A download of 1 GiB (or the MiB given) with its hash set known is fed
// through PartialFile::write in 243,200-byte pieces, taken rarest first from
// the range chooser as sources take them; results are applied after each
// write, as the task thread does, and the record is saved (in the
// background) every 128 MiB. Reported per layout: MB/s written (until the
// last write returned), MB/s verified (until every check was applied), the
// longest write and applyResults calls, and the final check. The
// reference is plain pwrite of the same pieces in the same order.
//
// Usage: storage_bench [directory [MiB]]   (default: ./storage-bench, 1024)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "downloads/storage/comp_partial_file.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/partial_file_owner.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/digest/md4.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr uint64_t kSaveEvery = 128ull << 20;
constexpr unsigned kSeed = 77;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
double msOf(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class Settings : public DownloadSettings {
public:
    OwnedString tempDir() const override { return OwnedString(temp.c_str()); }
    OwnedString incomingDir() const override { return OwnedString(incoming.c_str()); }
    bool saveCorrupt() const override { return false; }
    std::string temp, incoming;
};

class Owner : public PartialFileOwner {
public:
    DLProgress* progress() override { return &chooser; }
    int priority() const override { return 1; }
    bool isPaused() const override { return false; }
    DLProgress chooser;
};

std::vector<uint8_t> makeData(uint64_t size) {
    std::vector<uint8_t> data(size);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (uint64_t i = 0; i + 8 <= size; i += 8) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        std::memcpy(&data[i], &x, 8);
    }
    return data;
}

// The target's record with its hash set, digested on several threads.
std::unique_ptr<FileMeta> makeRecord(const std::vector<uint8_t>& data) {
    uint64_t size = data.size();
    uint32_t parts = partCountOf(size), crumbs = crumbCountOf(size);
    std::vector<uint8_t> partDigests(parts * 16ull), crumbDigests(crumbs * 8ull);
    auto digest = [&](uint64_t from, uint64_t to, uint8_t* out, int keep) {
        uint8_t full[16];
        Md4Context md4;
        md4.update(data.data() + from, to - from);
        md4.final(full);
        std::memcpy(out, full, keep);
    };
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; t++) {
        pool.emplace_back([&, t] {
            for (uint32_t p = t; p < parts; p += threads) {
                digest(p * uint64_t(kPartSize), std::min<uint64_t>((p + 1ull) * kPartSize, size), &partDigests[p * 16ull], 16);
            }
            for (uint32_t c = t; c < crumbs; c += threads) {
                digest(c * uint64_t(kCrumbSize), std::min<uint64_t>((c + 1ull) * kCrumbSize, size), &crumbDigests[c * 8ull], 8);
            }
        });
    }
    for (auto& thread : pool) thread.join();
    auto meta = std::make_unique<FileMeta>();
    meta->setName("bench.bin");
    meta->setSize(static_cast<uint32_t>(size));
    uint8_t fileHash[16];
    Md4Context md4;
    md4.update(partDigests.data(), partDigests.size());
    md4.final(fileHash);
    UniqueID hash;
    hash.copy(parts < 2 ? partDigests.data() : fileHash);
    meta->setFileHash(hash);
    std::vector<uint8_t> sets;
    if (parts >= 2) {
        sets.push_back(1);
        sets.insert(sets.end(), partDigests.begin(), partDigests.end());
    }
    if (crumbs >= 2) {
        sets.push_back(1);
        sets.insert(sets.end(), crumbDigests.begin(), crumbDigests.end());
    }
    i4_ram_file_class in(sets.data(), sets.size(), 0);
    if (!meta->readHashSets(&in)) {
        std::fprintf(stderr, "storage_bench: the hash set does not verify\n");
        std::exit(1);
    }
    return meta;
}

// The pieces as the range chooser hands them out.
std::vector<Gap> plannedPieces(uint64_t size) {
    GapList gaps;
    gaps.addGap(0, size);
    GapListView view(gaps, size);
    DLProgress chooser;
    srand(kSeed);
    chooser.init(&view);
    BoolArray all(chooser.crumbCount());
    all.setAll(true);
    std::vector<Gap> pieces;
    uint64_t start, end;
    while (chooser.pickRange(&all, &start, &end, 0)) pieces.push_back({start, end});
    return pieces;
}

void plainPwrite(const std::string& path, const std::vector<uint8_t>& data, const std::vector<Gap>& pieces) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    Clock::duration longest{};
    auto start = Clock::now();
    for (const Gap& piece : pieces) {
        auto began = Clock::now();
        if (::pwrite(fd, data.data() + piece.start, piece.length(), static_cast<off_t>(piece.start)) !=
            static_cast<ssize_t>(piece.length())) {
            std::perror("pwrite");
            std::exit(1);
        }
        longest = std::max(longest, Clock::now() - began);
    }
    double written = secondsSince(start);
    auto syncStart = Clock::now();
    ::fdatasync(fd);
    double sync = secondsSince(syncStart);
    ::close(fd);
    std::printf("plain pwrite      : %8.0f MB/s written, longest pwrite %6.3f ms, fdatasync %.2f s\n",
                data.size() / written / 1e6, msOf(longest), sync);
}

void throughStorage(bool directories, const std::vector<uint8_t>& data, FileMeta* record, StorageWorker& worker) {
    Owner owner;
    srand(kSeed);
    PartialFile* file = directories ? new CompPartialFile(&owner) : new PartialFile(&owner);
    file->addRef();
    if (!file->create(record)) {
        std::fprintf(stderr, "storage_bench: the partial file cannot be made\n");
        std::exit(1);
    }
    BoolArray all(owner.chooser.crumbCount());
    all.setAll(true);
    Clock::duration longestWrite{}, longestApply{}, longestSave{};
    std::vector<double> writeMs;
    uint64_t sinceSave = 0, start, end;
    size_t writes = 0;
    auto began = Clock::now();
    while (owner.chooser.pickRange(&all, &start, &end, 0)) {
        i4_ram_file_class reader(const_cast<uint8_t*>(data.data() + start), end - start, 0);
        auto t0 = Clock::now();
        if (file->write(&reader, start, end) == WriteResult::kBadInput) std::exit(2);
        auto t1 = Clock::now();
        file->applyResults();
        auto t2 = Clock::now();
        longestWrite = std::max(longestWrite, t1 - t0);
        writeMs.push_back(msOf(t1 - t0));
        longestApply = std::max(longestApply, t2 - t1);
        writes++;
        sinceSave += end - start;
        if (sinceSave >= kSaveEvery) {
            sinceSave = 0;
            auto s0 = Clock::now();
            file->save();
            longestSave = std::max(longestSave, Clock::now() - s0);
        }
    }
    double written = secondsSince(began);
    while (!file->nothingMissing()) {
        worker.waitIdle();
        auto t1 = Clock::now();
        file->applyResults();
        longestApply = std::max(longestApply, Clock::now() - t1);
    }
    double verified = secondsSince(began);
    std::sort(writeMs.begin(), writeMs.end());
    size_t over2 = static_cast<size_t>(writeMs.end() - std::upper_bound(writeMs.begin(), writeMs.end(), 2.0));
    double p999 = writeMs.empty() ? 0 : writeMs[std::min(writeMs.size() - 1, writeMs.size() * 999 / 1000)];
    file->setState(PartialFile::kFinishing);
    auto f0 = Clock::now();
    CompleteResult result = file->complete();
    double final = secondsSince(f0);
    std::printf("%-18s: %8.0f MB/s written, %6.0f MB/s verified; %zu writes: longest %.3f ms, 99.9%% within"
                " %.3f ms, %zu over 2 ms; longest applyResults %.3f ms, longest save call %.3f ms;"
                " final check %.2f s (%s)\n",
                directories ? "part directories" : "single data file", data.size() / written / 1e6,
                data.size() / verified / 1e6, writes, msOf(longestWrite), p999, over2, msOf(longestApply),
                msOf(longestSave), final, result == CompleteResult::kComplete ? "complete" : "FAILED");
    file->release();
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "storage-bench";
    uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    if (mib == 0 || mib >= 4096) {
        std::fprintf(stderr, "usage: storage_bench [directory [MiB below 4096]]\n");
        return 1;
    }
    initSpecialTags();
    fs::remove_all(base);
    Settings settings;
    settings.temp = fs::absolute(base + "/temp").string();
    settings.incoming = fs::absolute(base + "/incoming").string();
    fs::create_directories(settings.temp);
    fs::create_directories(settings.incoming);

    std::vector<uint8_t> data = makeData(mib << 20);
    std::unique_ptr<FileMeta> record = makeRecord(data);
    std::vector<Gap> pieces = plannedPieces(data.size());
    std::printf("%llu MiB in %zu pieces of up to 243,200 bytes, rarest first; %d storage threads\n",
                static_cast<unsigned long long>(mib), pieces.size(), StorageWorker::defaultThreadCount());

    plainPwrite(settings.temp + "/plain.bin", data, pieces);
    fs::remove(settings.temp + "/plain.bin");

    StorageWorker worker(StorageWorker::defaultThreadCount());
    TempNameAllocator names;
    DownloadServices& services = downloadServices();
    services.settings = &settings;
    services.storage = &worker;
    services.tempNames = &names;
    for (bool directories : {true, false}) {
        throughStorage(directories, data, record.get(), worker);
        fs::remove_all(settings.incoming);
        fs::create_directories(settings.incoming);
    }
    resetDownloadServices();
    fs::remove_all(base);
    return 0;
}

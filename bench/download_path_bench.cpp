// download_path_bench: received data through a whole download, from the
// data messages of several sources to the finished file in the incoming
// directory.
//
// A download of 1 GiB (or the MiB given) with its hash set known is started
// in the download pool. Eight in-memory sources, each on a connection of
// its own, hold up to three requests taken rarest first from the range
// chooser; one loop plays the task thread: it answers the requests with
// data messages of 64 KiB (header and payload copied into one packet
// buffer, as a connection reads them) through Download::dataReceived, and
// ticks the pool every 4 MiB, as the task thread does between services.
// Reported per layout: MB/s from the first to the last data message, the
// longest hold of the download's lock (a data message or a pool tick), and
// the time from the last byte to the file in place (checks, the completion
// worker, the move, and the end of the download on the bus).
//
// Usage: download_path_bench [directory [MiB]]   (default: ./download-bench, 1024)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/bus/message_q.h"
#include "core/meta/file_meta.h"
#include "core/meta/special_tags.h"
#include "core/options/core_options.h"
#include "downloads/file_source_interface.h"
#include "downloads/pool/data_message.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/pool/download_state.h"
#include "downloads/pool/partner_manager.h"
#include "downloads/source_peer.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "v4ada/containers/bool_array.h"
#include "v4ada/digest/md4.h"
#include "v4ada/file/ram_file.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kSources = 8;
constexpr uint64_t kMessage = 65536;
constexpr uint64_t kTickEvery = 4ull << 20;
constexpr uint64_t kHeader = kDataHeaderSize;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }
double msOf(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

class Settings : public DownloadSettings {
public:
    OwnedString tempDir() const override { return OwnedString(temp.c_str()); }
    OwnedString incomingDir() const override { return OwnedString(incoming.c_str()); }
    bool saveCorrupt() const override { return false; }
    std::string temp, incoming;
};

// A connection that sends nothing.
class Peer final : public SourcePeer {
public:
    UserMeta* user() override { return &record; }
    int32_t prValue() override { return 1; }
    double receiveAverage() override { return 0.0; }
    void addRef(const char*) override {}
    void release(const char*) override {}
    void setKeep(bool) override {}
    void sendFileNameRequest(const UniqueID&) override {}
    void sendHashSetRequest(const UniqueID&) override {}
    bool sendFileStatusRequest(PeerDownload*) override { return false; }
    void sendPartRequest(PeerDownload*, const uint32_t*, const uint32_t*) override {}
    void sendUploadRequest(const UniqueID&) override {}
    void sendPartnerRequest(const UniqueID&) override {}
    void sendSlotRelease() override {}
    TCPConnection* tcpConnection() override { return nullptr; }
    UserMeta record;
};

// A source whose requests the bench's loop answers.
class Source final : public FileSourceInterface {
public:
    Source(Download* download, Peer* peer) : download_(download), peer_(peer) {}
    double getSpeed() override { return 0.0; }
    void pause() override {}
    void cancel() override {}
    void downloadComplete() override {}
    void diskFull() override {}
    void shutdown() override {}
    void getRequests(uint64_t start[3], uint64_t end[3]) override {
        for (int i = 0; i < 3; i++) {
            start[i] = starts[i];
            end[i] = ends[i];
        }
    }
    SourcePeer* connection() override { return peer_; }
    DownloadInterface* download() override { return download_; }

    // Free slots take ranges from the chooser; false when none is held.
    bool refill(BoolArray* all) {
        bool held = false;
        for (int i = 0; i < 3; i++) {
            if (starts[i] >= ends[i] && !download_->pickRange(all, &starts[i], &ends[i])) starts[i] = ends[i] = 0;
            held |= starts[i] < ends[i];
        }
        return held;
    }

    uint64_t starts[3] = {};
    uint64_t ends[3] = {};

private:
    Download* download_;
    Peer* peer_;
};

// The transfer hub's part: the end of a download reaches the pool.
class EndHandler : public MessageHandler {
public:
    void handle(Message* message) override {
        if (message->code == MSG_END_DOWNLOAD) {
            DLPool::instance()->endDownload(static_cast<Download*>(message->data));
            ended = Clock::now();
            done = true;
        }
    }
    bool done = false;
    Clock::time_point ended;
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
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; t++) {
        workers.emplace_back([&, t] {
            for (uint32_t p = t; p < parts; p += threads) {
                digest(p * uint64_t(kPartSize), std::min<uint64_t>((p + 1ull) * kPartSize, size), &partDigests[p * 16ull], 16);
            }
            for (uint32_t c = t; c < crumbs; c += threads) {
                digest(c * uint64_t(kCrumbSize), std::min<uint64_t>((c + 1ull) * kCrumbSize, size), &crumbDigests[c * 8ull], 8);
            }
        });
    }
    for (auto& worker : workers) worker.join();
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
        std::fprintf(stderr, "download_path_bench: the hash set does not verify\n");
        std::exit(1);
    }
    return meta;
}

void run(bool directories, const std::vector<uint8_t>& data, FileMeta* record, const Settings& settings) {
    coreOptions()->setPartStyle(!directories);
    EndHandler ends;
    for (int code = 0; code < kMessageCodeCount; code++) messageQ->setHandler(&ends, code);
    DLPool* pool = DLPool::instance();
    srand(77);
    pool->startDownload(record);
    Download* download = pool->findDownload(record->fileHash());
    if (download == nullptr) {
        std::fprintf(stderr, "download_path_bench: the download cannot be started\n");
        std::exit(1);
    }
    std::vector<std::unique_ptr<Peer>> peers;
    std::vector<Source*> sources;
    download->lock(0);
    for (int i = 0; i < kSources; i++) {
        peers.push_back(std::make_unique<Peer>());
        sources.push_back(new Source(download, peers.back().get()));
        download->sources()->append(sources.back());
    }
    download->unlock();
    pool->tick(0);
    while (messageQ->tick(0)) {
    }

    BoolArray all(download->crumbCount());
    all.setAll(true);
    std::vector<uint8_t> packet(kHeader + kMessage);
    Clock::duration longestHold{};
    Clock::duration longestTick{};
    uint64_t sinceTick = 0;
    auto lastTick = Clock::now();
    auto tickPool = [&]() {
        auto now = Clock::now();
        int elapsed = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now - lastTick).count());
        pool->tick(elapsed);
        longestTick = std::max(longestTick, Clock::now() - now);
        lastTick = now;
        while (messageQ->tick(0)) {
        }
    };
    auto began = Clock::now();
    bool any = true;
    while (any) {
        any = false;
        for (Source* source : sources) {
            if (!source->refill(&all)) continue;
            any = true;
            for (int i = 0; i < 3; i++) {
                if (source->starts[i] >= source->ends[i]) continue;
                uint64_t start = source->starts[i];
                uint64_t end = std::min(source->ends[i], start + kMessage);
                uint32_t header[2] = {static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
                std::memcpy(packet.data(), header, sizeof header);
                std::memcpy(packet.data() + kHeader, data.data() + start, end - start);
                i4_ram_file_class reader(packet.data(), kHeader + (end - start), 0);
                auto t0 = Clock::now();
                if (!download->dataReceived(&reader, static_cast<SourcePeer*>(source->connection()))) std::exit(2);
                longestHold = std::max(longestHold, Clock::now() - t0);
                source->starts[i] = end;
                if (source->starts[i] >= source->ends[i]) source->starts[i] = source->ends[i] = 0;
                sinceTick += end - start;
                break;
            }
            if (sinceTick >= kTickEvery) {
                sinceTick = 0;
                tickPool();
            }
        }
    }
    double received = secondsSince(began);
    auto lastByte = Clock::now();
    while (!ends.done) {
        tickPool();
        if (!ends.done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    double inPlace = std::chrono::duration<double>(ends.ended - lastByte).count();
    // Complete only when the final check found the file hash.
    bool exact = download->statusCode() == kDlsComplete && fs::file_size(settings.incoming + "/bench.bin") == data.size();
    std::printf("%-18s: %8.0f MB/s received; longest lock hold: data message %.3f ms, pool tick %.3f ms;"
                " last byte to file in place %.2f s (%s)\n",
                directories ? "part directories" : "single data file", data.size() / received / 1e6, msOf(longestHold),
                msOf(longestTick), inPlace, exact ? "complete" : "FAILED");
    download->release();
}

}  // namespace

int main(int argc, char** argv) {
    std::string base = argc > 1 ? argv[1] : "download-bench";
    uint64_t mib = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1024;
    if (mib == 0 || mib >= 4096) {
        std::fprintf(stderr, "usage: download_path_bench [directory [MiB below 4096]]\n");
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
    std::printf("%llu MiB from %d sources in data messages of %llu KiB; %d storage threads\n",
                static_cast<unsigned long long>(mib), kSources, static_cast<unsigned long long>(kMessage >> 10),
                StorageWorker::defaultThreadCount());

    CoreOptions::createInstance();
    message_bus_create();
    StorageWorker worker(StorageWorker::defaultThreadCount());
    TempNameAllocator names;
    DownloadServices& services = downloadServices();
    services.settings = &settings;
    services.storage = &worker;
    services.tempNames = &names;
    PartnerManager::createInstance();
    DLPool::createInstance();
    for (bool directories : {true, false}) {
        run(directories, data, record.get(), settings);
        fs::remove_all(settings.incoming);
        fs::create_directories(settings.incoming);
    }
    DLPool::destroyInstance();
    PartnerManager::destroyInstance();
    resetDownloadServices();
    message_bus_destroy();
    CoreOptions::destroyInstance();
    fs::remove_all(base);
    return 0;
}

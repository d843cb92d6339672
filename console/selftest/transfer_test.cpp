#include "console/selftest/transfer_test.h"

#include "console/selftest/test_output.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "core/options/core_options.h"
#include "downloads/pool/dl_pool.h"
#include "downloads/pool/download.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/file_source_state.h"

namespace {

constexpr int kTickMs = 10;
constexpr int kRounds = 6;
// Four ticks of this let the longest back-off of a gone source run out.
constexpr int kGoneTicks = 4;
constexpr int kGoneTickMs = 12000000;

// Holds a download's reference and its lock while the test uses it.
class HeldDownload {
public:
    explicit HeldDownload(Download* download) : download_(download) {}
    ~HeldDownload() {
        if (locked_) download_->unlock();
        download_->release();
    }
    HeldDownload(const HeldDownload&) = delete;
    HeldDownload& operator=(const HeldDownload&) = delete;

    bool lock(int ms) TS_TRY_ACQUIRE(true, download_) {
        if (!download_->lock(ms)) return false;
        locked_ = true;
        return true;
    }
    void unlock() TS_RELEASE(download_) {
        download_->unlock();
        locked_ = false;
    }

private:
    Download* download_;
    bool locked_ = false;
};

// This client itself: a bad source at once, dropped at the next tick.
bool ownSourceIsBad(Download* download) {
    CoreOptions* options = coreOptions();
    if (options == nullptr) return false;
    FileSource source(*options->ownUserMeta(), download, nullptr);
    if (source.statusCode() != kFssUnasked) return false;
    source.tryAsk();
    if (source.statusCode() != kFssBadSource) return false;
    return !source.tick(kTickMs);
}

// A source nothing answers for: every attempt waits for a connection, the
// failure makes it gone, and after six back-offs it is bad.
bool unreachableSourceGivesUp(Download* download) {
    UserMeta user;
    const uint32_t ip = ipFromText(TransferTest::kUnservedAddress);
    user.setIp(ip);
    user.setPort(TransferTest::kUnservedPort);
    FileSource source(user, download, nullptr);
    for (int round = 0; round < kRounds; round++) {
        if (source.statusCode() != kFssUnasked) return false;
        source.tryAsk();
        if (source.statusCode() != kFssWaitConnection) return false;
        source.connectFailed(ip, TransferTest::kUnservedPort);
        if (source.statusCode() != kFssGone) return false;
        if (source.tryAsk() || source.statusCode() != kFssGone) return false;
        for (int i = 0; i < kGoneTicks; i++) source.tick(kGoneTickMs);
    }
    if (source.statusCode() != kFssBadSource) return false;
    return !source.tick(kTickMs);
}

}  // namespace

bool TransferTest::run() {
    test_print(" TransferTest test:");
    return testFileSource();
}

Download* TransferTest::startTestDownload(const char* name, uint32_t size) {
    DLPool* pool = DLPool::instance();
    if (pool == nullptr) return nullptr;
    FileMeta record;
    record.setName(name);
    record.setSize(size);
    UniqueID hash;
    hash.randomize();
    record.setFileHash(hash);
    pool->startDownload(&record);
    return pool->findDownload(hash);
}

bool TransferTest::testFileSource() TS_NO_ANALYSIS {  // HeldDownload's destructor gives the lock back
    test_print(" TransferTest::testFileSource()");
    Download* download = startTestDownload("test.file", 100);
    if (download == nullptr) return false;
    HeldDownload held(download);

    // The lock is not re-entrant: a second take by the same thread fails.
    if (!held.lock(0)) return false;
    if (download->lock(1)) {
        download->unlock();
        return false;
    }
    held.unlock();

    // The sources change the download's range weights: under its lock.
    if (!held.lock(0)) return false;
    test_print("\ttest1");
    if (!ownSourceIsBad(download)) return false;
    test_print("\ttest2");
    return unreachableSourceGivesUp(download);
}

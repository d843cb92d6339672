// Fixture of the partial-file tests: a temporary and an incoming directory,
// recording fakes of the services storage calls, an owner with a range
// chooser, a storage worker stepped by the test, and records with real
// hashes of given data.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/meta/file_meta.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/dl_progress.h"
#include "downloads/storage/partial_file.h"
#include "downloads/storage/partial_file_owner.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/part_digests.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/threads/linux/sys_mutex.h"

namespace storage_test {

using namespace support;

class FakeSettings : public DownloadSettings {
public:
    OwnedString tempDir() const override { return OwnedString(temp.c_str()); }
    OwnedString incomingDir() const override { return OwnedString(incoming.c_str()); }
    bool saveCorrupt() const override { return saveCor; }
    std::string temp, incoming;
    bool saveCor = true;
};

class RecordingSink : public SharedFilesSink {
public:
    void addSharedFile(FileMeta* copy) override;
    void removeSharedFile(const FileMeta& record) override;
    bool finalPlace(const UniqueID& hash, const char* path, uint32_t time) override;
    int added();
    int removed();
    std::string finalPath();

private:
    SysMutex lock_;
    std::vector<std::unique_ptr<FileMeta>> added_;
    int removed_ = 0;
    std::string finalPath_;
};

class RecordingUploads : public UploadSide {
public:
    void sendHaveNotice(const UniqueID& hash, uint32_t crumb) override;
    std::vector<uint32_t> notices();

private:
    SysMutex lock_;
    std::vector<uint32_t> notices_;
};

class TestOwner : public PartialFileOwner {
public:
    DLProgress* progress() override { return &chooser; }
    int priority() const override { return prio; }
    bool isPaused() const override { return paused; }
    DLProgress chooser;
    int prio = 1;
    bool paused = false;
};

// A referenced partial file, released when the holder goes.
template <typename T>
class Held {
public:
    explicit Held(T* file) : file_(file) { file_->addRef(); }
    ~Held() { file_->release(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    T* operator->() const { return file_; }
    T* get() const { return file_; }

private:
    T* file_;
};

class PartialFileTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A record of data named name; withHashes gives it the part and crumb
    // hashes (a one-part file always has its part hash: the file hash).
    std::unique_ptr<FileMeta> record(const Bytes& data, const char* name, bool withHashes = true);
    // Writes [start, end) of data; the result of PartialFile::write.
    WriteResult put(PartialFile* file, const Bytes& data, uint64_t start, uint64_t end);
    // Runs the queued checks and applies their results.
    void settle(PartialFile* file);
    // Writes data in pieces of `piece` bytes in a shuffled order, settling
    // now and then.
    void putAll(PartialFile* file, const Bytes& data, uint64_t piece, uint32_t seed);

    ProcessObjects process{ProcessObjects::kSpecialTags};
    TempDir dir;
    CaptureUI output;
    FakeSettings settings;
    RecordingSink sink;
    RecordingUploads uploads;
    TestOwner owner;
    std::unique_ptr<StorageWorker> worker;
    TempNameAllocator names;
};

}  // namespace storage_test

// Fakes of what the uploads reach: a memory file that counts its reads and
// can fail, a scripted partial file, the transfer hub's upload side and an
// upload owner that records when its upload ends.
//
//   support::RecordingUploadHub hub;  // installed while it lives
//   auto file = new support::CountingFile(bytes);
//   support::RecordingOwner owner;
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "transfer/uploads/part_reader.h"
#include "transfer/uploads/upload.h"
#include "transfer/uploads/upload_hub.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/file/ram_file.h"

namespace support {

// A memory file over a copy of the bytes. Counts read calls; from
// failAfter reads on, each read returns -1 (an error), or raises i4_err
// with throwOnRead. Its size can be cut to make reads short.
class CountingFile : public i4_ram_file_class {
public:
    explicit CountingFile(const std::string& bytes);
    ~CountingFile() override;
    int read(void* buffer, int n) override;

    int reads = 0;
    int failAfter = -1;
    bool throwOnRead = false;
    // Set by the destructor when given.
    bool* destroyed = nullptr;
};

// A partial file answering from a byte string: a read is done when the
// state is active and the range lies in the bytes and outside every
// missing range; otherwise the state's code, or 4. A forced answer
// replaces the rule.
class FakePartReader : public PartReader {
public:
    FakePartReader(const std::string& bytes, const char* name) : bytes(bytes), fileName(name) {}
    int read(void* buffer, uint64_t start, uint64_t end) override;
    int state() override { return fileState; }
    OwnedString name() override { return OwnedString(fileName.c_str()); }

    std::string bytes;
    std::string fileName;
    int fileState = kStateActive;
    int forced = -1;
    // [start, end) ranges the file does not hold.
    std::vector<std::pair<uint64_t, uint64_t>> missing;
    // "start-end" of each read.
    std::vector<std::string> reads;
};

// The hub's upload side: addSent calls as "addSent <hash byte> <bytes>".
class RecordingUploadHub : public UploadHub {
public:
    RecordingUploadHub() { previous_ = setUploadHub(this); }
    ~RecordingUploadHub() { setUploadHub(previous_); }
    void addSent(const UniqueID& hash, uint64_t bytes) override;
    bool allHashed() override { return hashed; }

    std::vector<std::string> log;
    bool hashed = false;

private:
    UploadHub* previous_;
};

// Records each endUpload; with letGo it drops the reference it was given
// (as a slot lets go of its upload).
class RecordingOwner : public UploadOwner {
public:
    void endUpload(Upload* upload) override;
    // The owner's reference, taken now.
    void hold(Upload* upload);

    int ended = 0;
    bool letGo = true;
    Upload* held = nullptr;
};

}  // namespace support

// HashThread: the worker that turns every file of the shared directories
// into a shared-file record. It walks the shared directories, reuses the
// record of a file it hashed before (the known files, known.met) when size,
// modification time and name still match, otherwise hashes the file crumb
// by crumb and imports its media tags, and hands the records to the task
// thread (MSG_ADD_SHARED_FILES), which shares and publishes them. When all
// directories are done it writes known.met and share.dat. Before any of
// that it verifies again, one per step, the partial downloads loaded from
// disk (LoadedPartsVerifier).
//
// A step does one of:
// - one verification of a loaded partial download;
// - files of the shared directories: known files back to back, at most
//   kBatchFiles of them or kBatchMs of time, and at most one file hashed;
//   everything found is posted as one batch.
// The thread pauses kPauseMs only after a step that read file data, so an
// unchanged share of many files is listed quickly.
//
// Between crumbs of a file being hashed the thread looks at its own stop
// request and at the keep-running test the entry installs, so a quit ends
// hashing within one crumb.
//
// Threads: hashDirectories (task thread) and queueFinished (any thread)
// only hand work over under short locks and start the thread; everything
// else of a run belongs to the hashing thread. The known files are reached
// through their locked list; the share list locks itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/task/thread.h"
#include "downloads/loaded_parts_verifier.h"
#include "v4ada/file/fs_listing.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class FileImporter;
class FileMeta;
class IndexedFileList;
class ShareList;
struct SharedFileBatch;

// Texts of the hashing thread.
constexpr const char* kHashListDebug = "Hash List: %s\n";
constexpr const char* kNoStatusText = "Couldn't get status of %s\n";
constexpr const char* kCouldntHashText = "ERROR: Couldn't hash %s\n";
constexpr const char* kHashExceptionText = "ERROR: Exception during hash.";
constexpr const char* kImportFailedKey = "importFailed";
constexpr const char* kImportFailedDefault = "Import failed:";

class HashThread : public Thread, public LoadedPartsVerifier {
public:
    static constexpr int kPauseMs = 40;
    static constexpr int kBatchFiles = 256;
    static constexpr int kBatchMs = 20;
    // The priority the thread asks for (no effect on this platform).
    static constexpr int kPriority = 3;

    struct StepResult {
        bool readData = false;  // a file or a partial download was read
        bool quit = false;      // hashing was abandoned for a quit or stop
        bool idle = false;      // nothing is left to do: the thread stops
    };

    // The lists are not owned and must outlive the thread.
    HashThread(IndexedFileList* knownFiles, ShareList* shareList);
    // Stops the body and waits for it; queued verifications are released.
    ~HashThread() override;

    // Where the end of a run writes known.met and share.dat.
    void setSavePaths(const char* knownMetPath, const char* shareDatPath);
    // The importer of new files' media tags (not owned); without one new
    // files are shared without media tags.
    void setImporter(FileImporter* importer);
    // The entry's keep-running test; null means always.
    void setKeepRunning(bool (*keepRunning)());

    // Task thread. Hands a new list of directories over (replacing any
    // run in progress) and starts the thread; returns the number of the
    // new run, which the batches of this run carry.
    uint64_t hashDirectories(std::vector<OwnedString> paths);
    // LoadedPartsVerifier: queues the job and starts the thread.
    void queueFinished(LoadedParts* parts) override;

    // Releases every queued verification unverified; only while no body
    // runs (shutdown, after stopAndWait).
    void dropQueued();

    // Set once the last directory of a run is done; cleared by a new list.
    bool allHashed() const { return allHashed_.load(); }

    // One step without the pause. Runs on the hashing thread, or on the
    // caller's thread while no body runs (tests).
    StepResult step();

protected:
    void onStart() override;
    void run() override;
    // The pause after a step that read data.
    virtual void pause(int ms);

private:
    enum class Outcome { kDirectoryDone, kSkipped, kReused, kHashed, kQuit };

    void takeNewList();
    bool verifyOne();
    void hashSome(StepResult& result);
    Outcome hashNextFile(SharedFileBatch* batch);
    // The record of the file, null when it cannot be hashed; *quit is set
    // when hashing was abandoned for a quit or stop.
    FileMeta* hashFile(const char* path, bool* quit);
    bool stopping();
    void finishRun();
    void stopWhenIdle(StepResult& result);

    IndexedFileList* knownFiles_;
    ShareList* shareList_;
    std::atomic<FileImporter*> importer_{nullptr};
    std::atomic<bool (*)()> keepRunning_{nullptr};
    std::atomic<bool> allHashed_{false};

    SysMutex dirLock_;  // the fields up to finishLock_
    std::unique_ptr<std::vector<OwnedString>> pending_ TS_GUARDED_BY(dirLock_);
    uint64_t runs_ TS_GUARDED_BY(dirLock_) = 0;
    OwnedString knownMetPath_ TS_GUARDED_BY(dirLock_);
    OwnedString shareDatPath_ TS_GUARDED_BY(dirLock_);

    SysMutex finishLock_;  // finishQueue_
    std::deque<LoadedParts*> finishQueue_ TS_GUARDED_BY(finishLock_);

    // The hashing thread's own.
    std::deque<LoadedParts*> finishWork_;
    std::deque<OwnedString> paths_;
    std::unique_ptr<DirListing> listing_;
    size_t fileIndex_ = 0;
    uint64_t run_ = 0;
    bool runActive_ = false;
};

// TransferGateway: the one object through which the rest of the program
// reaches the transfer side. It holds the known files (known.met), the
// shared files that peers may fetch, the share list (share.dat) and the
// hashing thread; it wires the transfer side into the peer pool and the
// task thread at start-up, loads and saves the transfer side's files, adds
// and removes shared files and publishes new ones to the overlay, and
// opens the listening door for other clients.
//
// It is also what other subsystems see of the shares: the peer protocol's
// shares side, the overlay's shared-hash provider and the uploads' hub
// (bytes sent, hashing done); download storage
// reaches it through the shared-files poster (any thread: the work goes to
// the task thread through the bus) and the settings adapter.
//
// The process-wide hub is made and destroyed explicitly by start-up and
// shutdown (createInstance / destroyInstance).
//
// Threads: every operation runs on the task thread, except init, shutdown
// and save at start-up and shutdown (main thread, task thread stopped),
// the sink's operations (any thread) and the hashing thread's own work.
// The two file lists and the share list lock themselves.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "downloads/http/protocol_list.h"
#include "downloads/storage/download_services.h"
#include "downloads/storage/storage_worker.h"
#include "downloads/storage/temp_name_allocator.h"
#include "overlay/index/shared_hash_provider.h"
#include "transfer/hub/transfer_download_settings.h"
#include "transfer/hub/shared_files_poster.h"
#include "transfer/hub/transfer_handler.h"
#include "transfer/peer/peer_sides.h"
#include "transfer/sharing/hash_thread.h"
#include "transfer/sharing/indexed_file_list.h"
#include "transfer/sharing/share_list.h"
#include "transfer/uploads/upload_hub.h"

class FileList;
class FileMeta;
class HttpProtocol;
class ProxySettings;
class TransferUI;
class UniqueID;
struct SharedFileBatch;
struct SharedFileUpdate;

// The float tag counting complete copies uploaded, and its start value.
constexpr float kSentStart = 0.0f;
constexpr int32_t kDefaultUploadPriority = 0;
constexpr const char* kNotAddedToShared = "ERROR: File not added to shared?\n";

class TransferGateway : public PeerShares, public SharedHashProvider, public UploadHub {
public:
    // Makes the hashing thread over the hub's known files and share list
    // (tests step one of their own).
    using HashThreadFactory = std::function<std::unique_ptr<HashThread>(IndexedFileList*, ShareList*)>;

    explicit TransferGateway(HashThreadFactory makeHashThread = nullptr);
    // Deletes every known and shared record.
    virtual ~TransferGateway();
    TransferGateway(const TransferGateway&) = delete;
    TransferGateway& operator=(const TransferGateway&) = delete;

    static TransferGateway* instance();
    // Keeps an existing hub.
    static void createInstance();
    static void destroyInstance();

    // Start-up, after the task thread started: the handler's bus codes,
    // the peer events of the downloads, the uploads, the friends and the
    // private messages (the last three also become the peer protocol's
    // sides, the upload pool the downloads' uploads side), the downloads'
    // and the uploads' tasks, the media importers, and the hub installed as
    // the shares side, the shared-hash provider, the uploads' hub, the
    // loaded-parts verifier and the download services it provides.
    void init();
    // MSG_LOAD_STATE, on the task thread: transfer options, share.dat,
    // friend.met, known.met (with the age rule), the partial downloads of the temp
    // directory (loaded in place, so they are queued for verification
    // before hashing starts), the shared directories to the hashing
    // thread, the door, then uploadq.dat.
    void load();
    // friend.met, known.met, share.dat, then the transfer options into the
    // options record. Shutdown and MSG_SAVE_STATE.
    void save();
    // Main thread, once the task thread stopped and before the process
    // waits for its worker threads: the storage worker's threads end (its
    // later work, the downloads' last saves, runs on the caller).
    void stopStorageThreads();
    // Main thread, after the task thread stopped: the hashing thread is
    // stopped and waited for, the downloads and the uploads shut down (the
    // upload queue saved), everything is saved, the door let go and every
    // installed pointer removed.
    void shutdown();

    FileList* sharedFiles() { return sharedFiles_.list(); }
    IndexedFileList* knownFiles() { return &knownFiles_; }
    ShareList* shareList() { return &shareList_; }
    // The link protocols a download offers its non-location links to.
    ProtocolList* protocols() { return &protocols_; }
    HashThread* hashThread() { return hashThread_.get(); }

    // Replaces the shared directories, writes share.dat, then asks for a
    // refresh.
    void setShareDirectories(const std::vector<OwnedString>& paths);
    // Posts MSG_REFRESH_SHARES.
    void requestRefresh();
    // MSG_REFRESH_SHARES: the shares are emptied, shared partial downloads
    // share again and the hashing thread goes through every directory.
    void refresh();
    void directoryPaths(std::vector<OwnedString>& out);

    // Takes the record over. A hash already shared updates the stored
    // record (which follows its path between directories) without notice
    // or publication; a new one gets "# Sent" and Priority when absent, is
    // listed, announced to the user interface and published without its
    // local tags.
    void addSharedFile(FileMeta* record);
    // MSG_ADD_SHARED_FILES: the records in order; a batch of a hashing run
    // that a newer directory list replaced is dropped.
    void addSharedFiles(SharedFileBatch* batch);
    // Stops sharing the file of the record's hash (the caller keeps its
    // record).
    void removeSharedFile(FileMeta* record);
    // MSG_SHARED_FILE_UPDATE (from the shared-files poster): a record
    // removed, or a finished download's final place.
    void applyUpdate(const SharedFileUpdate& update);
    // Special tag 19 on the known, the shared and the downloading record,
    // and the priority of the file's upload queue.
    void setPriority(const UniqueID& hash, int priority);
    // UploadHub: counts bytes uploaded of the file in "# Sent" (complete
    // copies) of its known and its shared record; nothing for a size of 0.
    void addSent(const UniqueID& hash, uint64_t bytes) override;
    // UploadHub: the hashing thread has gone through every directory.
    bool allHashed() override;
    // The peer door (see openDoor in transfer/peer/peer_door.h).
    void openDoor(const ProxySettings* settings, int listenTimeoutMs);
    // Sets the process-wide transfer user interface.
    void setUI(TransferUI* ui);
    // The entry's keep-running test, for the hashing thread.
    void setKeepRunning(bool (*keepRunning)()) { hashThread_->setKeepRunning(keepRunning); }
    // MSG_LOAD_PARTIALS: partial downloads of another directory are
    // imported into the temp directory first, then the temp directory's
    // are loaded.
    void loadPartials(const char* directory);

    // PeerShares.
    FileMeta* sharedFile(const UniqueID& hash) override;
    std::vector<OwnedString> directoryNames() override;
    FileList* directoryFiles(const char* name) override;
    // PeerShares and SharedHashProvider.
    std::vector<UniqueID> sharedHashes() override;

private:
    IndexedFileList knownFiles_;
    IndexedFileList sharedFiles_;
    ShareList shareList_;
    // Uses the lists above: made after them and destroyed before.
    std::unique_ptr<HashThread> hashThread_;
    // The hashing run whose batches are current. Task thread.
    uint64_t currentRun_ = 0;
    TransferHandler handler_;
    TransferDownloadSettings settings_;
    SharedFilesPoster poster_;
    TempNameAllocator tempNames_;
    ProtocolList protocols_;
    // The one protocol of the list (owned by it); made by init.
    HttpProtocol* httpProtocol_ = nullptr;
    // Digests and record saves of the partial downloads; from init until
    // the downloads are shut down.
    std::unique_ptr<StorageWorker> storage_;
    bool initialised_ = false;
    // Set once load has read the files: save never replaces files that
    // were not read.
    std::atomic<bool> loaded_{false};
};

inline TransferGateway* transferGateway() { return TransferGateway::instance(); }

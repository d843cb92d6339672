// TransferOptions: the settings of the transfer side: the incoming and
// temp directories, the door port, who may send private messages and view
// the shared files, whether a corrupted download stays, the free-space
// reserve, and the paths of the transfer side's files. The values live as
// option tags of the options record (pref.met): load copies them out, save
// copies them back.
//
// Option keys (type, default when absent):
//   "doorPort" int 4662 | "incoming" string <base>/incoming |
//   "temp" string <base>/temp | "saveCor" int 1 | "verifyCancel" int 1 |
//   "pmAllow" int 0 | "frAllow" int 0 | "resHD" int KiB, 102400 (100 MiB)
//
// The process-wide instance is made and destroyed explicitly
// (createInstance / destroyInstance).
//
// Threads: the two directories are read by the task, hashing and
// completion threads under the lock; the door port is read from the
// options record (under its lock); everything else is an atomic word.
#pragma once

#include <atomic>
#include <cstdint>

#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

constexpr const char* kOptDoorPort = "doorPort";
constexpr const char* kOptIncoming = "incoming";
constexpr const char* kOptTemp = "temp";
constexpr const char* kOptSaveCorrupted = "saveCor";
constexpr const char* kOptVerifyCancel = "verifyCancel";
constexpr const char* kOptMessagesAllowed = "pmAllow";
constexpr const char* kOptFilesAllowed = "frAllow";
constexpr const char* kOptReserve = "resHD";  // KiB

constexpr int kDefaultDoorPort = 4662;
constexpr int32_t kDefaultReserveKiB = 102400;
constexpr int kLastPort = 65535;
constexpr const char* kDirectoryNotValidText = "directory not valid: %s";

class TransferOptions {
public:
    TransferOptions() = default;
    TransferOptions(const TransferOptions&) = delete;
    TransferOptions& operator=(const TransferOptions&) = delete;

    static TransferOptions* instance();
    // Keeps an existing instance.
    static void createInstance();
    static void destroyInstance();

    // From the options record: the file paths in the base directory, every
    // key (a stored door port outside 1-65535 counts as absent), the own
    // record's TCP port, then both directories are created.
    void load();
    // The eight keys back into the options record, in the order above.
    void save();

    OwnedString incomingDir();
    OwnedString tempDir();
    // The door port is the own record's TCP port (the one peers and
    // pref.met see), kept nowhere else; 4662 while that port is unset
    // (before load).
    int doorPort() const;

    // Takes the directory once every missing directory along it exists;
    // false, with the old directory kept and "directory not valid: <path>"
    // printed, when it cannot be made or is no writable directory.
    bool setIncoming(const char* path) TS_NO_ANALYSIS;  // the field goes to takeDirectory, which locks
    // False for the current directory (nothing said), while any download
    // exists (the user is told), or as setIncoming for a directory that is
    // not usable; true once it is taken.
    bool setTemp(const char* path) TS_NO_ANALYSIS;  // the field goes to takeDirectory, which locks
    // Creates every missing directory along the path; true when it then is
    // a directory this process may write into.
    static bool usableDirectory(const char* path);
    // Moves the door to the port: the old door goes and a new one listens
    // (none while a proxy is in force); the proxy settings stay. False,
    // with nothing changed, for a port outside 1-65535.
    bool setDoorPort(int port);

    int pmAllow() const { return pmAllow_.load(); }
    void setPmAllow(int value) { pmAllow_.store(value); }
    int frAllow() const { return frAllow_.load(); }
    void setFrAllow(int value) { frAllow_.store(value); }
    int saveCor() const { return saveCor_.load(); }
    void setSaveCor(int value) { saveCor_.store(value); }
    int verifyCancel() const { return verifyCancel_.load(); }
    // The free-space reserve in bytes.
    int64_t reserveBytes() const { return resHD_.load(); }
    void setReserveBytes(int64_t bytes) { resHD_.store(bytes); }

    // Set by load; constant afterwards.
    const OwnedString& knownMetPath() const { return knownMetPath_; }
    const OwnedString& shareDatPath() const { return shareDatPath_; }
    const OwnedString& friendMetPath() const { return friendMetPath_; }
    const OwnedString& uploadqPath() const { return uploadqPath_; }

private:
    // Stores the path under the lock once it exists as a directory.
    bool takeDirectory(OwnedString& field, const char* path);

    SysMutex lock_;  // incoming_ and temp_
    OwnedString incoming_ TS_GUARDED_BY(lock_);
    OwnedString temp_ TS_GUARDED_BY(lock_);
    OwnedString knownMetPath_;
    OwnedString shareDatPath_;
    OwnedString friendMetPath_;
    OwnedString uploadqPath_;
    std::atomic<int> pmAllow_{0};
    std::atomic<int> frAllow_{0};
    std::atomic<int> saveCor_{1};
    std::atomic<int> verifyCancel_{1};
    std::atomic<int64_t> resHD_{0};
    // Nothing is saved before load: the defaults must not replace what
    // pref.met holds.
    std::atomic<bool> loaded_{false};
};

inline TransferOptions* transferOptions() { return TransferOptions::instance(); }

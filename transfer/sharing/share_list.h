// ShareList: the directories whose files this client shares, in the order
// the user gave them, each with the records of the files found in it, and
// the pseudo directory "!Incomplete Files" of the shared partial downloads.
// The directory paths persist in share.dat. The records belong to the
// transfer hub's shared-files list; a record is listed in at most one
// directory at a time (the one its path names, or "!Incomplete Files").
//
// share.dat, little-endian, back to back with no header, count or trailer
// (an empty file is valid):
//   per directory, in list order:  u16 length | length bytes of the path
// (the library's counted string, at most 65534 bytes, no terminator).
//
// Threads: every operation runs on the task thread, except save (hashing
// thread at the end of a run, main thread at shutdown) and dropDirectory
// (hashing thread). The directory list is guarded by the list's own mutex;
// a directory dropped by the hashing thread stays allocated until the next
// change the task thread makes, so a file list handed out by
// directoryFiles stays valid for the task-thread step that asked for it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "transfer/sharing/share_directory.h"
#include "v4ada/containers/ll.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class FileList;
class FileMeta;
class i4_file;

// The name of the pseudo directory of shared partial downloads.
constexpr const char* kIncompleteFilesName = "!Incomplete Files";
// Bytes of the length before each path in share.dat.
constexpr int kShareDatLengthBytes = 2;

// Texts of the share list.
constexpr const char* kDirectoryAlreadyAdded = "directory already added.\n";
constexpr const char* kNullSharedRecord = "attempting to add null meta to shared directory";
constexpr const char* kAddingDirsFromAddKey = "addingDirsFromAdd";
constexpr const char* kAddingDirsFromAddDefault = "adding sharedirector from add():";
constexpr const char* kShareListLoadError = "Error loading shared directory list.\n";
constexpr const char* kShareListSaveError = "**I4 error in ShareList::save()\n";

class ShareList {
public:
    ShareList();
    virtual ~ShareList();
    ShareList(const ShareList&) = delete;
    ShareList& operator=(const ShareList&) = delete;

    // Adds the directories of share.dat in order (each checked), then the
    // incoming directory without check unless the file named it. A file
    // that cannot be read whole keeps the directories read before the
    // fault; it is reported and put aside so that the next save cannot
    // lose the rest. False only for such a file.
    bool load(const char* path, const char* incomingDir);
    // The directories of share.dat's bytes from the stream (null: none),
    // then the incoming directory as load does; false when the stream
    // ends inside an entry or holds a refused length.
    bool read(i4_file* file, const char* incomingDir);
    // Writes every directory path through the safe file. False (reported)
    // when share.dat could not be replaced; the old file then stays.
    bool save(const char* path);

    // Paths name the same directory when their bytes are equal, one
    // trailing '/' aside ('/' is the only separator; names are
    // case-sensitive). Null is the empty text.
    static bool samePath(const char* a, const char* b);

    // With check, the path must open as a directory and must not name a
    // listed directory ("directory already added.\n"). True when added.
    bool addDirectory(const char* path, bool check);
    // Replaces every directory by the paths (each checked), then appends
    // the incoming directory when none of them named it.
    void setDirectories(const std::vector<OwnedString>& paths, const char* incomingDir);
    // Deletes the first directory of that path; its records stay shared.
    bool removeDirectory(const char* path);
    // The same for the hashing thread; the directory's object is freed at
    // the next change made on the task thread.
    bool dropDirectory(const char* path);
    // Deletes every directory and unlinks the records of
    // "!Incomplete Files".
    void clear();
    // Unlinks every record of every directory and of "!Incomplete Files".
    void clearFiles();

    // Appends a copy of each directory path in list order (not
    // "!Incomplete Files").
    void directoryPaths(std::vector<OwnedString>& out);
    int directoryCount();
    // The files of "!Incomplete Files" for exactly that name, else of the
    // first directory matching by samePath; null when none matches.
    FileList* directoryFiles(const char* name);

    // Lists the record under the directory ("!Incomplete Files" byte for
    // byte, else the first directory matching by samePath; a directory
    // that is not listed is added for it, with a message). A record held
    // by another directory moves; one held by this directory stays once.
    void addFile(const char* directory, FileMeta* record);
    // Unlinks the record from whichever directory holds it.
    void removeFile(FileMeta* record);
    // The path of the directory that lists the record; null when none.
    OwnedString holderOf(FileMeta* record);

private:
    // The first directory in list order that matches by samePath: a
    // hashed lookup of the few texts that match.
    ShareDirectory* findLocked(const char* path) TS_REQUIRES(mutex_);
    void appendLocked(ShareDirectory* directory) TS_REQUIRES(mutex_);
    void unlinkDirectoryLocked(ShareDirectory* directory) TS_REQUIRES(mutex_);
    // Unlinks the directory's records from the holder index.
    void forgetFilesLocked(ShareDirectory* directory) TS_REQUIRES(mutex_);
    void deleteLocked(ShareDirectory* directory) TS_REQUIRES(mutex_);
    void freeRetiredLocked() TS_REQUIRES(mutex_);
    void unlinkLocked(FileMeta* record) TS_REQUIRES(mutex_);

    SysMutex mutex_;
    ShareDirectory incomplete_ TS_GUARDED_BY(mutex_);
    LL directories_ TS_GUARDED_BY(mutex_);  // of ShareDirectory*, owned
    // Dropped by the hashing thread, freed by the next task-thread change.
    std::vector<ShareDirectory*> retired_ TS_GUARDED_BY(mutex_);
    std::unordered_map<FileMeta*, ShareDirectory*> holders_ TS_GUARDED_BY(mutex_);
    // The listed directories by their exact path, each in list order, and
    // the place of each in the list (a number that only grows).
    std::unordered_map<std::string, std::vector<ShareDirectory*>> byPath_ TS_GUARDED_BY(mutex_);
    std::unordered_map<ShareDirectory*, uint64_t> places_ TS_GUARDED_BY(mutex_);
    uint64_t nextPlace_ TS_GUARDED_BY(mutex_) = 0;
};

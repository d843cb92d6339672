// i4_unix_file_class: an i4_file over an open file descriptor, made by
// fs_open. Offsets and sizes are 64-bit, so files past 2 and 4 GiB work.
//
// write keeps writing until the whole count is taken or the system refuses;
// any short or failed write is remembered in writeFailed(), so an owner
// that writes through the typed writers without checking each result can
// still tell at the end whether everything reached the file.
#pragma once

#include "v4ada/file/file.h"

class i4_unix_file_class : public i4_file {
public:
    // Takes ownership of the descriptor; the destructor closes it.
    explicit i4_unix_file_class(int fd);
    ~i4_unix_file_class() override;
    i4_unix_file_class(const i4_unix_file_class&) = delete;
    i4_unix_file_class& operator=(const i4_unix_file_class&) = delete;

    int read(void* buffer, int n) override;
    int write(const void* buffer, int n) override;
    // Absolute seek; returns the new position (the old one when refused).
    i4_pos seek(i4_pos position) override;
    i4_pos size() override;
    i4_pos tell() override;

    // Writes the file's data to the device (fsync); false on failure.
    virtual bool sync();
    // Writes the data (not every attribute) to the device (fdatasync).
    bool syncData();
    // Closes the descriptor now; false when close reports an error (data
    // may not have reached the disk). Later calls return true.
    bool close();
    // Reads n bytes at an offset without moving the position.
    int readAt(void* buffer, int n, i4_pos offset);
    // Writes n bytes at an offset without moving the position: n, or -1
    // when not all of them could be written (writeFailed() then says so
    // and errno tells why).
    int writeAt(const void* buffer, int n, i4_pos offset);

    bool writeFailed() const { return writeFailed_; }
    int descriptor() const { return fd_; }

protected:
    // The one system write, a seam for tests that inject failures.
    virtual long writeOnce(const void* buffer, unsigned long n);

private:
    int fd_;
    bool writeFailed_ = false;
};

// ShareDirectory: one shared directory (or the pseudo directory of shared
// partial downloads) with the records of the files found in it. The
// records belong to the transfer hub's shared-files list: this list only
// groups them, and its destruction and every removal only unlink them.
#pragma once

#include "core/meta/file_list.h"
#include "v4ada/string/owned_string.h"

class ShareDirectory {
public:
    explicit ShareDirectory(const char* path) : path(path) {}
    virtual ~ShareDirectory() { files.unlinkAll(); }
    ShareDirectory(const ShareDirectory&) = delete;
    ShareDirectory& operator=(const ShareDirectory&) = delete;

    // The path as the user gave it, or "!Incomplete Files".
    const OwnedString path;
    FileList files;
};

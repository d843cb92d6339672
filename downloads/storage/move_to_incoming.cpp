#include "downloads/storage/move_to_incoming.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "downloads/storage/storage_text.h"
#include "v4ada/file/fs.h"

namespace {

int reserve(const char* path);

// Numbered names go on past "99_" rather than fail; this only bounds a
// directory that is somehow full of them.
constexpr unsigned kLastNumber = 1000000;

// Moves source to target unless target exists: 0 moved, EEXIST taken, or
// another error number. Within one file system this is a single rename that
// never replaces a file; across file systems (or where the kernel cannot
// refuse to replace) the name is first reserved empty and the data copied
// into it, so only that case can leave an empty file behind a crash.
int placeAt(const char* source, const char* target) {
    if (::renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    if (error != EXDEV && error != EINVAL && error != ENOSYS) return error;
    int status = reserve(target);
    if (status != 0) return status;
    if (fs_move(source, target) == 0) return 0;
    fs_remove(target);
    return EIO;
}

// Creates the name empty and exclusively: 0 reserved, EEXIST taken, or
// another error number.
int reserve(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

}  // namespace

OwnedString incomingBaseName(const char* fileName) {
    std::string name = fileName ? fileName : "";
    while (!name.empty() && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    if (name.size() > static_cast<size_t>(kIncomingNameMax)) name.resize(kIncomingNameMax);
    OwnedString base(name.c_str());
    fs_safe_dot_name(base);
    if (base.length() == 0) base = "_";
    return base;
}

bool moveToIncoming(const char* source, const char* fileName, const char* directory, OwnedString& finalPath) {
    OwnedString base = incomingBaseName(fileName);
    OwnedString target;
    target.format("%s%c%s", directory, '/', base.c_str());
    int status = placeAt(source, target.c_str());
    for (unsigned k = 2; status == EEXIST && k <= kLastNumber; k++) {
        target.format("%s%c%u_%s", directory, '/', k, base.c_str());
        status = placeAt(source, target.c_str());
    }
    if (status == 0) {
        finalPath = target;
        return true;
    }
    if (UIGateway* ui = currentUI()) {
        ui->print("%s %s %s", source, storageString(STRINGS_COULDNT_BE_MOVED), target.c_str());
    }
    finalPath = source;
    return false;
}

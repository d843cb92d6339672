#include "downloads/storage/file_part.h"

#include "core/ui/ui_gateway.h"
#include "v4ada/file/unix_file.h"

FilePart::FilePart(uint64_t base, uint64_t start, uint64_t end, const char* name, bool changed)
    : base_(base), start_(start), end_(end), name_(name), changed_(changed) {}

FilePart::~FilePart() = default;

bool FilePart::open() {
    if (UIGateway* ui = currentUI()) ui->printRaw("ERROR: makeTempFile\n");
    return false;
}

void FilePart::remove() {}

void FilePart::saveTags(Meta*, uint32_t) {}

bool FilePart::close() { return false; }

FileHandle FilePart::file(bool) {
    SysMutexGuard guard(&lock_);
    return shared_;
}

void FilePart::attach(FileHandle file) {
    SysMutexGuard guard(&lock_);
    shared_ = std::move(file);
}

FileHandle FilePart::fileFor(bool create) {
    FileHandle handle = file(create);
    if (!handle && open()) handle = file(create);
    if (!handle) {
        if (UIGateway* ui = currentUI()) ui->printRaw("Couldn't create Temp File\n");
    }
    return handle;
}

bool FilePart::read(void* buffer, uint64_t start, uint32_t length) {
    FileHandle handle = fileFor(false);
    if (!handle) return false;
    int got = handle->readAt(buffer, static_cast<int>(length), start - base_);
    if (got == static_cast<int>(length)) return true;
    if (UIGateway* ui = currentUI()) {
        ui->debug("Not all readc: %U + (%d/%d) %s\n", start, got, static_cast<int>(length), name_.c_str());
    }
    return false;
}

bool FilePart::write(const void* buffer, uint64_t start, uint32_t length) {
    FileHandle handle = fileFor(true);
    if (!handle) return false;
    int put = handle->writeAt(buffer, static_cast<int>(length), start - base_);
    if (put == static_cast<int>(length)) return true;
    if (UIGateway* ui = currentUI()) ui->printRaw("Not all written(%d,%d)\n", put < 0 ? 0 : put, static_cast<int>(length));
    return false;
}

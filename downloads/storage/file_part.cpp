#include "downloads/storage/file_part.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "core/ui/ui_gateway.h"
#include "v4ada/digest/md4.h"
#include "v4ada/file/unix_file.h"

namespace {
constexpr int kDigestBlock = 1 << 20;
}  // namespace

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

CheckOutcome FilePart::digest(uint64_t a, uint64_t b, uint8_t* out, uint64_t* readableEnd) {
    *readableEnd = a;
    if (a < start_ || end_ < b || b < a) {
        if (UIGateway* ui = currentUI()) ui->printRaw("ERROR in FilePart::hash(%U,%U)[%U,%U]\n", a, b, start_, end_);
        return CheckOutcome::kUnreadable;
    }
    errno = 0;
    FileHandle handle = file(false);
    if (!handle) return errno == ENOENT ? CheckOutcome::kMissing : CheckOutcome::kUnreadable;
    std::unique_ptr<uint8_t[]> block(new uint8_t[kDigestBlock]);
    Md4Context md4;
    for (uint64_t at = a; at < b;) {
        int want = static_cast<int>(std::min<uint64_t>(b - at, kDigestBlock));
        int got = handle->readAt(block.get(), want, at - base_);
        if (got < 0) return CheckOutcome::kUnreadable;
        if (got == 0) {
            *readableEnd = at;
            return CheckOutcome::kMissing;
        }
        md4.update(block.get(), static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    *readableEnd = b;
    md4.final(out);
    return CheckOutcome::kMatch;
}

#include "core/meta/hash_context.h"

HashContext::~HashContext() { close(); }

void HashContext::start(i4_file* opened, uint32_t fileSize, uint32_t parts, uint32_t crumbs) {
    close();
    file = opened;
    size = fileSize;
    position = 0;
    partCount = parts;
    crumbCount = crumbs;
    nextPart = 0;
    nextCrumb = 0;
    started = false;
    finished = false;
}

void HashContext::close() {
    delete file;
    file = nullptr;
}

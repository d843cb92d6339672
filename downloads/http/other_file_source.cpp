#include "downloads/http/other_file_source.h"

OtherFileSource::OtherFileSource(DownloadInterface* download, OtherSourceInterface* source)
    : download_(download), source_(source) {}

OtherFileSource::~OtherFileSource() = default;

double OtherFileSource::getSpeed() { return static_cast<double>(source_->getSpeed()); }

int OtherFileSource::statusCode() { return source_->statusCode(); }

const char* OtherFileSource::userName() { return source_->url(); }

const char* OtherFileSource::fileName() { return source_->fileName(); }

void OtherFileSource::pause() { source_->reset(); }

void OtherFileSource::cancel() { source_->stop(); }

void OtherFileSource::downloadComplete() { source_->stop(); }

void OtherFileSource::diskFull() { source_->reset(); }

void OtherFileSource::shutdown() { source_->reset(); }

bool OtherFileSource::tryAsk() { return source_->resume(); }

void OtherFileSource::getRequests(uint64_t start[3], uint64_t end[3]) { source_->getRange(start, end); }

bool OtherFileSource::tick(int elapsedMs) { return source_->tick(elapsedMs); }

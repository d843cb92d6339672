// OtherFileSource: a protocol-made source (OtherSourceInterface) as the
// download sees every source (FileSourceInterface). It owns the source and
// forwards the few operations such a source has; everything that concerns
// peers keeps the interface's default (no crumb map, no user, no queue).
#pragma once

#include <memory>

#include "downloads/file_source_interface.h"
#include "downloads/http/other_source_interface.h"

class OtherFileSource final : public FileSourceInterface {
public:
    // Takes the source over.
    OtherFileSource(DownloadInterface* download, OtherSourceInterface* source);
    ~OtherFileSource() override;
    OtherFileSource(const OtherFileSource&) = delete;
    OtherFileSource& operator=(const OtherFileSource&) = delete;

    double getSpeed() override;
    int statusCode() override;
    // The source's URL.
    const char* userName() override;
    const char* fileName() override;

    // pause, diskFull and shutdown reset the source (it gives back its
    // range); cancel and downloadComplete stop it.
    void pause() override;
    void cancel() override;
    void downloadComplete() override;
    void diskFull() override;
    void shutdown() override;

    bool tryAsk() override;
    void getRequests(uint64_t start[3], uint64_t end[3]) override;
    bool tick(int elapsedMs) override;
    DownloadInterface* download() override { return download_; }

    OtherSourceInterface* source() { return source_.get(); }

private:
    DownloadInterface* download_;
    std::unique_ptr<OtherSourceInterface> source_;
};

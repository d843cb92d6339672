// PartUpload: an upload of a file that is still being downloaded. It reads
// through the download's partial file (only data the file holds), read
// ahead as an Upload reads its file. When the download completes during the
// upload, it goes on from the finished file: the path that completion
// stored on the shared record of the file's hash.
#pragma once

#include <memory>

#include "transfer/uploads/part_reader.h"
#include "transfer/uploads/upload.h"

class PartUpload : public Upload {
public:
    // Takes the reader over; its name becomes the upload's. A use of the
    // connection ("PartUpload"); no log line.
    PartUpload(std::unique_ptr<PartReader> part, Peer* connection, UploadOwner* owner);
    ~PartUpload() override;

    bool switched() const { return switched_; }

protected:
    const uint8_t* fillBuffer(uint32_t length) override;
    // While the download is active or completed.
    bool canUpload() override;

private:
    // The finished file of the hash; false when there is none.
    bool openFinished();

    bool switched_ = false;
    std::unique_ptr<PartReader> part_;
};

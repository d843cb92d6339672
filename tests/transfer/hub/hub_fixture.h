// A transfer hub for one test: options in a scratch base directory, the
// bus recorded, recording fakes for the overlay, the transfer user
// interface and the downloads side, and a hashing thread the test steps.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "core/meta/file_meta.h"
#include "support/bus_recorder.h"
#include "support/peer_fakes.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/transfer_downloads_fake.h"
#include "support/ui_capture.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/sharing/stepped_hash_thread.h"

class HubTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A record as the hashing thread or a partial download makes it.
    static FileMeta* record(const char* name, uint32_t size, uint8_t hash, const std::string& path);
    // Where the records of a directory ("!Incomplete Files" included) are.
    std::vector<std::string> namesIn(const char* directory);

    support::TempDir dir_;
    std::optional<support::ProcessObjects> process_;
    support::CaptureUI output_;
    support::BusRecorder bus_;
    support::CallLog log_;
    support::FakeGateway overlay_{&log_};
    support::RecordingTransferUI ui_{&log_};
    support::FakeTransferDownloads downloads_{&log_};
    SteppedHashThread* thread_ = nullptr;
    std::unique_ptr<TransferGateway> hub_;
};

// Shared helpers of the record tests: the special-tag table set up per test
// and the console and debug output captured.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/bytes.h"
#include "support/files.h"
#include "support/memory_files.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

// Sets up the special tags and captures the output gateway's channels.
class MetaTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Printed and debug texts since the last call, then cleared.
    std::string console() { return ui_.takeText(); }
    std::string debug() { return ui_.takeDebugged(); }

private:
    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
    support::CaptureUI ui_{support::CaptureUI::Install::kDetached};
    UIGateway* previous_ = nullptr;
};

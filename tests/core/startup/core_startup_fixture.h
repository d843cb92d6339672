// Helpers of the core start-up tests: a scratch base directory with the
// bus and the options made for each test and torn down after it, a
// capturing output gateway and a quiet connection.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/net/connection.h"
#include "core/ui/ui_gateway.h"
#include "support/fake_net.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"

class ProxySettings;
class i4_protocol;

namespace startuptest {

// A connection on a scripted socket that never does any work; tells when
// the pool has deleted it.
class QuietConnection : public Connection {
public:
    explicit QuietConnection(bool* deleted = nullptr) : deleted_(deleted) { setSocket(new support::FakeSocket()); }
    ~QuietConnection() override {
        if (deleted_) *deleted_ = true;
    }
    bool doTask() override { return false; }

private:
    bool* deleted_;
};

class CoreStartupTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string prefsPath() const { return dir_ / "pref.met"; }
    std::string filtersPath() const { return dir_ / "filters.txt"; }
    // Writes pref.met in the scratch directory with the given proxy (null:
    // none), through an options record of its own.
    void writePrefsWithProxy(const ProxySettings* proxy);

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags | support::ProcessObjects::kBus |
                                     support::ProcessObjects::kCoreOptions};
    support::TempDir dir_;
    support::CaptureUI ui_{support::CaptureUI::Install::kDetached};
    UIGateway* previousUI_ = nullptr;
};

// Whether the protocol sends a resolved host to a proxy (a proxy address)
// rather than resolving it here.
bool resolvesThroughProxy(i4_protocol* protocol);

}  // namespace startuptest

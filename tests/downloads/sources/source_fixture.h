// Peer sources of one real download over the recording fakes: a download
// of four crumbs (a real partial file, gap list and range chooser), the
// download pool, partner table and asked-source list of a DownloadWorld,
// and connection faces:
//   peer  "p"  listed in the pool: the connection of the source's user;
//   other "q"  not listed: what a connect reaches for an unconnected user.
// Sources are made as the factory makes them and put into the download's
// list, so the take-over and the pool see them. Time is given by ticks
// (and a manual clock for the asked-source list).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "downloads/pool/download.h"
#include "downloads/sources/file_source.h"
#include "downloads/sources/file_source_state.h"
#include "support/download_world.h"
#include "v4ada/time/clock_source.h"

namespace sourcetest {

using support::FakeSourcePeer;

class SourceTest : public ::testing::Test {
public:
    static constexpr uint32_t kCrumbs = 4;
    static constexpr uint64_t kSize = kCrumbs * 486400ULL;

    void SetUp() override;
    void TearDown() override;

    // A source of the download for the user of p (adopting p, which is
    // listed) or of q (not connected).
    FileSource* connected();
    FileSource* unconnected();
    // A source for another user with its own listed connection (name).
    FileSource* another(const std::string& name, uint32_t ip);
    // Installs a state the way a transition does.
    template <typename State, typename... Args>
    State* put(FileSource* source, Args... args) {
        auto* state = new State(source, args...);
        source->setState(std::unique_ptr<FileSourceState>(state));
        return state;
    }
    // A crumb map from '1'/'0' text (one character per crumb).
    std::unique_ptr<BoolArray> map(const std::string& bits);
    // ICLT_FILE_STATUS from the source's own connection.
    void status(FileSource* source, const std::string& bits);
    // The state's class name ("FSS_OnQueue", ...).
    static std::string stateOf(FileSource* source);
    // The log without the use lines (addRef, release) and the partner
    // table's calls of the uploads.
    std::vector<std::string> sends();
    // Every weight of the range chooser as text ("1 0 0 10").
    std::string weights();
    // Deletes the source as its download does.
    void remove(FileSource* source);
    // The bus messages are handled now (MSG_OPEN_SLOT reaches the pool).
    void pump() { world_->pumpBus(); }

    ManualClock clock_;
    std::unique_ptr<ScopedClockSource> clockScope_;
    std::unique_ptr<support::DownloadWorld> world_;
    std::vector<std::unique_ptr<FakeSourcePeer>> faces_;
    FakeSourcePeer* p_ = nullptr;
    FakeSourcePeer* q_ = nullptr;
    Download* download_ = nullptr;
};

}  // namespace sourcetest

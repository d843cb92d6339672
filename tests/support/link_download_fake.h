// FakeLinkDownload: the download as a link source (an HTTP source) sees
// it, over a file image in memory. Ranges are handed out from a script;
// writes are kept in the image and listed; returned ranges and weight
// changes are recorded. Task-thread object (the test's thread).
//
//   support::FakeLinkDownload download(1000);
//   download.ranges = {{0, 500}, {500, 1000}};
//   ... drive the source ...
//   EXPECT_EQ(download.writes, (support::Ranges{{0, 500}}));
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "downloads/download_interface.h"

namespace support {

using Range = std::pair<uint64_t, uint64_t>;
using Ranges = std::vector<Range>;

// Adjacent and overlapping ranges joined, in order.
Ranges merged(Ranges ranges);

class FakeLinkDownload final : public DownloadInterface {
public:
    explicit FakeLinkDownload(uint64_t size);

    void addSourceLink(const char* link) override;
    OwnedString name() override { return OwnedString("fake.bin"); }
    uint64_t size() override { return size_; }
    uint32_t crumbCount() override;
    // Records +delta / -delta; a map that is not all crumbs set is
    // recorded as 0.
    void changeWeight(const BoolArray* map, int32_t delta) override;
    void changeCrumbs(const BoolArray*, const BoolArray*, int32_t) override {}
    void returnCrumb(uint32_t crumb) override { returnedCrumbs.push_back(crumb); }
    void returnRange(uint64_t start, uint64_t end) override { returned.emplace_back(start, end); }
    bool pickRange(const BoolArray*, uint64_t*, uint64_t*) override { return false; }
    // The next scripted range; false once there is none.
    bool pickPartRange(uint64_t* start, uint64_t* end) override;
    void writeData(const uint8_t* bytes, uint64_t start, uint64_t end) override;

    // Whether every written byte equals expected[offset].
    bool writtenMatches(const std::string& expected) const;

    std::deque<Range> ranges;
    std::vector<std::string> links;
    Ranges writes;
    Ranges returned;
    std::vector<uint32_t> returnedCrumbs;
    std::vector<int32_t> weightChanges;
    std::string image;  // size bytes, written ones filled in
    // Called after each write (for example to stop the source, as a
    // download that completes does).
    std::function<void()> afterWrite;

private:
    uint64_t size_;
};

}  // namespace support

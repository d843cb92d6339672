// A running tandrel shares the directories of share.dat: it hashes them at
// start-up, answers a peer's file-name request for a shared hash, keeps
// the records in known.met and reuses them after a restart.
#include <gtest/gtest.h>
#include <utime.h>

#include <string>

#include "console/tandrel_process_fixture.h"
#include "core/meta/file_list.h"
#include "core/meta/special_tags.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/loopback.h"
#include "support/peer_fakes.h"
#include "support/peer_wire.h"
#include "support/process_objects.h"
#include "transfer/peer/iclt_opcodes.h"
#include "v4ada/containers/unique_id.h"
#include "v4ada/digest/part_hash.h"

namespace {

constexpr int kWaitMs = 20000;
constexpr time_t kTime = 1'200'000'000;

// The names and hashes known.met holds.
std::vector<std::pair<std::string, std::string>> knownRecords(const std::string& path) {
    std::vector<std::pair<std::string, std::string>> out;
    FileList list;
    if (list.load(path.c_str()) != MetaListLoad::kLoaded) return out;
    for (int i = 0; i < list.count(); i++) {
        auto* record = static_cast<FileMeta*>(list.at(i));
        out.emplace_back(record->name(), support::hashBytes(record->fileHash()));
    }
    list.clear();
    return out;
}

}  // namespace

TEST_F(TandrelTest, SharedDirectoryIsHashedServedKeptAndReusedAfterARestart) {
    support::ProcessObjects tags{support::ProcessObjects::kSpecialTags};
    std::string shared = path("shared");
    std::string file = shared + "/movie.bin";
    ASSERT_TRUE(support::write_file(file, std::string(kCrumbSize + 1000, 'm')));
    struct utimbuf times = {kTime, kTime};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    ASSERT_TRUE(support::write_file(path("share.dat"), support::counted_text(shared)));
    UniqueID hash;
    ASSERT_TRUE(hashFileParts(hash.bytes(), file.c_str(), kPartSizeKiB, nullptr));

    ASSERT_TRUE(process_.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(wait_for_shares_loaded(process_, kWaitMs)) << process_.raw();
    EXPECT_NE(process_.raw().find("Loading shared files...\n"), std::string::npos);

    // A peer asks for the shared file's name by its hash.
    const int port = doorLease_.port();
    support::FrameClient peer(support::raw_connect(port));
    UserMeta user = support::makeUser("asker", 0, 40000, 9);
    peer.send(ICLT_HELLO, support::helloPayload(user, 0, 0, true, true));
    ASSERT_TRUE(peer.awaitFrames(1, kWaitMs));
    peer.send(ICLT_FILE_NAME_REQUEST, support::hashBytes(hash));
    ASSERT_TRUE(peer.awaitFrames(2, kWaitMs));
    EXPECT_EQ(peer.frames[1].opcode, ICLT_FILE_NAME);
    EXPECT_EQ(peer.frames[1].payload, support::hashBytes(hash) + support::as_text(support::counted_text("movie.bin")));

    process_.write("q\ny\n");
    process_.closeInput();
    ASSERT_TRUE(process_.waitExit(kWaitMs));
    EXPECT_EQ(process_.status(), 0);
    auto known = knownRecords(path("known.met"));
    ASSERT_EQ(known.size(), 1u);
    EXPECT_EQ(known[0].first, "movie.bin");
    EXPECT_EQ(known[0].second, support::hashBytes(hash));
    // The incoming directory is shared too, after the directories named.
    EXPECT_EQ(support::read_file(path("share.dat")),
              support::as_text(support::counted_text(shared)) + support::as_text(support::counted_text(path("incoming"))));

    // Other bytes under the same size, time and name: a restart reuses the
    // known record instead of reading the file again.
    ASSERT_TRUE(support::write_file(file, std::string(kCrumbSize + 1000, 'x')));
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
    TandrelProcess second;
    ASSERT_TRUE(second.start(dir_, {}, TandrelProcess::Mode::kPipes));
    ASSERT_TRUE(wait_for_shares_loaded(second, kWaitMs)) << second.raw();
    second.write("q\ny\n");
    second.closeInput();
    ASSERT_TRUE(second.waitExit(kWaitMs));
    EXPECT_EQ(second.status(), 0) << second.raw() << second.err();
    known = knownRecords(path("known.met"));
    ASSERT_EQ(known.size(), 1u) << second.raw();
    EXPECT_EQ(known[0].second, support::hashBytes(hash));
}

#include "transfer/hub/transfer_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/bus/message_codes.h"
#include "core/bus/message_q.h"
#include "core/bus/source_records.h"
#include "support/files.h"
#include "transfer/hub/hub_fixture.h"
#include "transfer/hub/shared_files_poster.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "transfer/sharing/shared_file_batch.h"
#include "v4ada/file/fs.h"
#include "v4ada/net/proxy_settings.h"

namespace {

using support::CallLog;
using support::hashOf;

std::string tokenText(Download* download) {
    char text[32];
    snprintf(text, sizeof text, "%p", static_cast<void*>(download));
    return text;
}

class HandlerTest : public HubTest {
protected:
    void handle(int code, void* data) {
        Message message{code, data};
        handler_.handle(&message);
    }
    TransferHandler handler_{nullptr};
    support::DownloadToken download_;
};

}  // namespace

TEST_F(HandlerTest, EveryCodeReachesItsActionAndItsDataIsFreedOrPassedOn) {
    handler_ = TransferHandler(hub_.get());
    std::string temp = transferOptions()->tempDir().c_str();
    std::string d = tokenText(download_.get());
    support::RecordingHandler peers(&log_, "peers");
    clientPool()->addHandler(&peers);

    struct Row {
        int code;
        std::function<void*()> data;
        CallLog calls;
    };
    std::vector<Row> rows = {
        {MSG_START_DOWNLOAD, [] { return HubTest::record("wanted", 5, 1, ""); }, {"start wanted"}},
        {MSG_END_DOWNLOAD, [this] { return download_.get(); }, {"end " + d}},
        {MSG_PAUSE_DOWNLOAD, [this] { return download_.get(); }, {"pause " + d, "release " + d}},
        {MSG_RESUME_DOWNLOAD, [this] { return download_.get(); }, {"resume " + d, "release " + d}},
        {MSG_CANCEL_DOWNLOAD, [this] { return download_.get(); }, {"cancel " + d, "release " + d}},
        {MSG_PAUSE_DOWNLOAD, [] { return nullptr; }, {}},
        {MSG_REFRESH_SHARES, [] { return nullptr; }, {"reshareAll"}},
        {MSG_ADD_SHARED_FILE, [] { return HubTest::record("one", 5, 2, ""); }, {"sharedFileChanged one", "publish one"}},
        {MSG_SHARED_FILE_UPDATE,
         [] {
             auto* update = new SharedFileUpdate();
             update->hash = hashOf(2);
             return update;
         },
         {"sharedFileRemoved one"}},
        {MSG_ADD_SHARED_FILES,
         [this] {
             auto* batch = new SharedFileBatch();
             batch->run = hub_->hashThread()->hashDirectories({});
             hub_->refresh();  // the batch is now of an older run: dropped
             batch->records.emplace_back(HubTest::record("late", 5, 3, ""));
             log_.clear();
             return batch;
         },
         {}},
        {MSG_CHECK_DISK_SPACE, [] { return nullptr; }, {"checkDiskSpace"}},
        {MSG_OPEN_SLOT, [] { return nullptr; }, {}},
        {MSG_PRIVATE_MESSAGE, [] { return new UserMeta(); }, {}},  // no message pool here: freed
        {MSG_RESERVED_20, [] { return nullptr; }, {}},
        {MSG_SET_PROXY, [] { return new ProxySettings(); }, {"doorFailed 4662"}},
        {MSG_LOAD_PARTIALS, [temp] { return new OwnedString(temp.c_str()); }, {"loadPartials " + temp}},
        {MSG_ADD_SOURCE,
         [] {
             auto* source = new AddSourceRecord();
             source->user.setNickname("bob");
             source->hash = hashOf(4);
             return source;
         },
         {"addSource 4 bob"}},
        {MSG_ADD_SOURCE_LINK,
         [] { return new SourceLinkRecord{OwnedString("http://127.0.0.1/x"), hashOf(5)}; },
         {"addSourceLink 5 http://127.0.0.1/x"}},
        {MSG_RESCHEDULE, [] { return nullptr; }, {"reschedule"}},
        {MSG_CONNECT_FAILED, [] { return new ConnectFailedRecord{0x0100007F, 40000}; },
         {"peers.connectFailed 16777343:40000"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        void* data = row.data();
        log_.clear();
        handle(row.code, data);
        EXPECT_EQ(log_, row.calls);
    }
    EXPECT_EQ(hub_->sharedFile(hashOf(3)), nullptr);
}

TEST_F(HandlerTest, WithoutADownloadsSideTheDownloadCodesOnlyFreeTheirData) {
    setTransferDownloads(nullptr);
    setPeerDownloads(nullptr);
    handle(MSG_START_DOWNLOAD, HubTest::record("wanted", 5, 1, ""));
    handle(MSG_ADD_SOURCE, new AddSourceRecord());
    handle(MSG_ADD_SOURCE_LINK, new SourceLinkRecord());
    handle(MSG_LOAD_PARTIALS, new OwnedString(transferOptions()->tempDir()));
    handle(MSG_PAUSE_DOWNLOAD, download_.get());
    // Without a hub the share codes free theirs too.
    handle(MSG_ADD_SHARED_FILE, HubTest::record("x", 5, 2, ""));
    handle(MSG_ADD_SHARED_FILES, new SharedFileBatch());
    handle(MSG_SHARED_FILE_UPDATE, new SharedFileUpdate());
    handle(MSG_SET_PROXY, new ProxySettings());
    EXPECT_TRUE(log_.empty());
}

TEST_F(HandlerTest, RegistersEveryCodeInItsOrderAndLeavesTheBusAgain) {
    TransferHandler handler(hub_.get());
    handler.registerAll(messageQ);
    messageQ->post(MSG_RESCHEDULE, nullptr);
    messageQ->post(MSG_CHECK_DISK_SPACE, nullptr);
    EXPECT_TRUE(messageQ->tick(0));
    EXPECT_TRUE(messageQ->tick(0));
    EXPECT_EQ(log_, (CallLog{"reschedule", "checkDiskSpace"}));
    handler.unregisterAll(messageQ);
    messageQ->post(MSG_RESCHEDULE, nullptr);
    EXPECT_FALSE(messageQ->tick(0));  // no handler any more
}

TEST_F(HandlerTest, PartialsOfTheTempDirectoryAreOnlyLoaded) {
    std::string temp = transferOptions()->tempDir().c_str();
    ASSERT_TRUE(support::write_file(temp + "/3.part", "data"));
    ASSERT_TRUE(support::write_file(temp + "/3.part.met", "record"));
    handler_ = TransferHandler(hub_.get());
    handle(MSG_LOAD_PARTIALS, new OwnedString(temp.c_str()));
    EXPECT_EQ(log_, (CallLog{"loadPartials " + temp}));
    EXPECT_TRUE(support::file_exists(temp + "/3.part.met"));
    EXPECT_EQ(output_.text(), "");
}

TEST_F(HandlerTest, MessagesLeftAtShutdownAreFreedWithoutActing) {
    handler_ = TransferHandler(hub_.get());
    handler_.registerAll(messageQ);
    messageQ->post(MSG_START_DOWNLOAD, HubTest::record("wanted", 5, 1, ""));
    messageQ->post(MSG_ADD_SHARED_FILE, HubTest::record("x", 5, 2, ""));
    auto* batch = new SharedFileBatch();
    batch->records.emplace_back(HubTest::record("y", 5, 3, ""));
    messageQ->post(MSG_ADD_SHARED_FILES, batch);
    messageQ->post(MSG_SHARED_FILE_UPDATE, new SharedFileUpdate());
    messageQ->post(MSG_SET_PROXY, new ProxySettings());
    messageQ->post(MSG_PRIVATE_MESSAGE, new UserMeta());
    messageQ->post(MSG_LOAD_PARTIALS, new OwnedString("/x"));
    messageQ->post(MSG_ADD_SOURCE, new AddSourceRecord());
    messageQ->post(MSG_ADD_SOURCE_LINK, new SourceLinkRecord());
    messageQ->post(MSG_CONNECT_FAILED, new ConnectFailedRecord{1, 2});
    messageQ->post(MSG_CANCEL_DOWNLOAD, download_.get());
    messageQ->post(MSG_END_DOWNLOAD, download_.get());
    messageQ->discardPending(&handler_);
    EXPECT_EQ(log_, (CallLog{"release " + tokenText(download_.get())}));
    handler_.unregisterAll(messageQ);
    EXPECT_TRUE(bus_.take().empty());
}

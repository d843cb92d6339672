// Transfer options: keys and defaults, directories, the door port; and the
// door's opening.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "support/daemon.h"
#include "support/files.h"
#include "support/loopback.h"
#include "core/net/network_protocol.h"
#include "core/options/core_options.h"
#include "v4ada/net/socket.h"
#include "core/strings/string_table.h"
#include "transfer/options/transfer_options.h"
#include "transfer/peer/peer_door.h"
#include "transfer/peer/peer_world_fixture.h"
#include "v4ada/net/proxy_settings.h"

namespace transfertest {
namespace {

class TransferOptionsTest : public PeerWorld {
protected:
    bool isDirectory(const std::string& path) {
        struct stat record;
        return ::stat(path.c_str(), &record) == 0 && S_ISDIR(record.st_mode);
    }
    // Whether a client can connect to the port on the loopback.
    bool accepts(int port) {
        return support::accepts_connections(port);
    }
};

TEST_F(TransferOptionsTest, DefaultsInAFreshBaseDirectory) {
    TransferOptions* options = transferOptions();
    EXPECT_EQ(options->doorPort(), 4662);
    EXPECT_EQ(coreOptions()->tcpPort(), 4662);
    EXPECT_STREQ(options->incomingDir().c_str(), (dir_ / "incoming").c_str());
    EXPECT_STREQ(options->tempDir().c_str(), (dir_ / "temp").c_str());
    EXPECT_TRUE(isDirectory(dir_ / "incoming"));
    EXPECT_TRUE(isDirectory(dir_ / "temp"));
    EXPECT_EQ(options->saveCor(), 1);
    EXPECT_EQ(options->verifyCancel(), 1);
    EXPECT_EQ(options->pmAllow(), 0);
    EXPECT_EQ(options->frAllow(), 0);
    EXPECT_EQ(options->reserveBytes(), 104857600);
    EXPECT_STREQ(options->knownMetPath().c_str(), (dir_ / "known.met").c_str());
    EXPECT_STREQ(options->shareDatPath().c_str(), (dir_ / "share.dat").c_str());
    EXPECT_STREQ(options->friendMetPath().c_str(), (dir_ / "friend.met").c_str());
    EXPECT_STREQ(options->uploadqPath().c_str(), (dir_ / "uploadq.dat").c_str());
}

TEST_F(TransferOptionsTest, KeysLoadAndSaveBack) {
    CoreOptions* core = coreOptions();
    struct Case {
        int32_t reserveKiB;
        int64_t bytes;
    } cases[] = {{102400, 104857600}, {3000000, 3072000000LL}};
    for (Case c : cases) {
        core->setIntOption("resHD", c.reserveKiB);
        core->setIntOption("doorPort", 5000);
        core->setStringOption("incoming", "");
        core->setStringOption("temp", (dir_ / "t2").c_str());
        core->setIntOption("saveCor", 0);
        core->setIntOption("pmAllow", 2);
        core->setIntOption("frAllow", 1);
        transferOptions()->load();
        EXPECT_EQ(transferOptions()->reserveBytes(), c.bytes);
        EXPECT_EQ(transferOptions()->doorPort(), 5000);
        EXPECT_EQ(core->tcpPort(), 5000);
        // An empty text falls back to the default, like an absent one.
        EXPECT_STREQ(transferOptions()->incomingDir().c_str(), (dir_ / "incoming").c_str());
        EXPECT_STREQ(transferOptions()->tempDir().c_str(), (dir_ / "t2").c_str());
        EXPECT_EQ(transferOptions()->saveCor(), 0);
        EXPECT_EQ(transferOptions()->pmAllow(), 2);
        EXPECT_EQ(transferOptions()->frAllow(), 1);
        core->setIntOption("resHD", 1);
        transferOptions()->save();
        int32_t saved = 0;
        EXPECT_TRUE(core->getIntOption("resHD", &saved));
        EXPECT_EQ(saved, c.reserveKiB);
        EXPECT_STREQ(core->getStringOption("incoming").c_str(), (dir_ / "incoming").c_str());
    }
    // A stored port no socket can have counts as absent.
    core->setIntOption("doorPort", 70000);
    transferOptions()->load();
    EXPECT_EQ(transferOptions()->doorPort(), 4662);
}

// Remakes the options by hand: a fresh, never loaded instance is what it checks.
TEST_F(TransferOptionsTest, NothingIsSavedBeforeLoad) {
    TransferOptions::destroyInstance();
    TransferOptions::createInstance();
    coreOptions()->setIntOption("doorPort", 5555);
    transferOptions()->save();
    int32_t port = 0;
    EXPECT_TRUE(coreOptions()->getIntOption("doorPort", &port));
    EXPECT_EQ(port, 5555);
}

TEST_F(TransferOptionsTest, DirectoriesChangeOnlyWhenTheyCanBeMade) {
    TransferOptions* options = transferOptions();
    OwnedString oldTemp = options->tempDir();
    // The current directory: no change, nothing said.
    EXPECT_FALSE(options->setTemp(oldTemp.c_str()));
    size_t printedBefore = printed().size();
    // While a download exists: refused with entry 29.
    sides_.downloads.add(hashOf(1), 1000);
    EXPECT_FALSE(options->setTemp((dir_ / "t3").c_str()));
    ASSERT_EQ(printed().size(), printedBefore + 1);
    EXPECT_EQ(printed().back(), string_table_default(STRINGS_CANT_CHANGE_TEMP));
    sides_.downloads.downloads.clear();
    EXPECT_TRUE(options->setTemp((dir_ / "t3/deep").c_str()));
    EXPECT_TRUE(isDirectory(dir_ / "t3/deep"));
    EXPECT_STREQ(options->tempDir().c_str(), (dir_ / "t3/deep").c_str());
    // A path through a regular file cannot be made: refused, old kept.
    support::write_file(dir_ / "plain", "x");
    EXPECT_FALSE(options->setTemp((dir_ / "plain/t").c_str()));
    EXPECT_EQ(printed().back(), "directory not valid: " + (dir_ / "plain/t"));
    EXPECT_STREQ(options->tempDir().c_str(), (dir_ / "t3/deep").c_str());
    EXPECT_FALSE(options->setIncoming((dir_ / "plain/in").c_str()));
    EXPECT_EQ(printed().back(), "directory not valid: " + (dir_ / "plain/in"));
    // A file is no directory either.
    EXPECT_FALSE(options->setIncoming((dir_ / "plain").c_str()));
    EXPECT_EQ(printed().back(), "directory not valid: " + (dir_ / "plain"));
    EXPECT_STREQ(options->incomingDir().c_str(), (dir_ / "incoming").c_str());
    EXPECT_TRUE(options->setIncoming((dir_ / "in2").c_str()));
    EXPECT_TRUE(isDirectory(dir_ / "in2"));
}

TEST_F(TransferOptionsTest, DoorPortMovesTheDoorAndKeepsTheProxy) {
    support::PortLease firstLease;
    support::PortLease secondLease;
    int firstPort = firstLease.port();
    int secondPort = secondLease.port();
    ASSERT_NE(firstPort, 0);
    ASSERT_NE(secondPort, 0);
    TransferOptions* options = transferOptions();
    ASSERT_TRUE(options->setDoorPort(firstPort));
    PeerDoor* first = peerDoor();
    ASSERT_NE(first, nullptr);
    step();
    EXPECT_TRUE(accepts(firstPort));
    EXPECT_EQ(sides_.log, CallLog{"republishAll"});
    // The same port: nothing happens.
    EXPECT_TRUE(options->setDoorPort(firstPort));
    EXPECT_EQ(peerDoor(), first);
    // Out of range: refused, nothing changes.
    for (int port : {0, -1, 70000}) {
        EXPECT_FALSE(options->setDoorPort(port)) << port;
        EXPECT_EQ(options->doorPort(), firstPort);
        EXPECT_EQ(peerDoor(), first);
    }
    // A new port: the old door goes, a new one listens at once.
    ASSERT_TRUE(options->setDoorPort(secondPort));
    EXPECT_NE(peerDoor(), nullptr);
    EXPECT_EQ(peerDoor()->port(), secondPort);
    EXPECT_EQ(coreOptions()->tcpPort(), secondPort);
    step();
    EXPECT_TRUE(accepts(secondPort));
    EXPECT_FALSE(accepts(firstPort));
    // With a proxy in force the door goes, none opens and the proxy stays.
    ProxySettings proxy;
    proxy.type = kProxySocks5;
    proxy.port = 1080;
    proxy.setHost("127.0.0.1");
    coreOptions()->setProxy(&proxy);
    installNetworkProtocol(std::shared_ptr<i4_protocol>(support::loopback_protocol()));
    ASSERT_TRUE(options->setDoorPort(firstPort));
    EXPECT_EQ(peerDoor(), nullptr);
    step();
    EXPECT_FALSE(accepts(secondPort));
    ASSERT_NE(coreOptions()->proxySettings(), nullptr);
    EXPECT_EQ(coreOptions()->proxySettings()->type, kProxySocks5);
}

TEST_F(TransferOptionsTest, OpenDoorOpensOnceAndReportsAPortInUse) {
    // A port already listened on: the door cannot listen, the UI hears it,
    // and the unlistened door stays until it is let go.
    std::shared_ptr<i4_protocol> protocol = networkProtocol();
    i4_socket* busy = protocol->listen(0, 0, kSocketStream, nullptr);
    ASSERT_NE(busy, nullptr);
    int port = support::local_port(busy);
    coreOptions()->setIntOption("doorPort", port);
    transferOptions()->load();
    openDoor(coreOptions()->proxySettings().get(), PeerDoor::kStartupListenMs);
    EXPECT_EQ(sides_.log, CallLog{"doorFailed " + std::to_string(port)});
    PeerDoor* failed = peerDoor();
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->socket(), nullptr);
    // No second door while one exists.
    openDoor(coreOptions()->proxySettings().get(), PeerDoor::kStartupListenMs);
    EXPECT_EQ(peerDoor(), failed);
    EXPECT_EQ(sides_.log.size(), 1u);
    closePeerDoor();
    EXPECT_EQ(peerDoor(), nullptr);
    busy->close();
    delete busy;
    // Newly set proxy settings open no door.
    ProxySettings proxy;
    proxy.type = kProxyHttp;
    proxy.port = 3128;
    proxy.setHost("127.0.0.1");
    openDoor(&proxy, PeerDoor::kProxyListenMs);
    EXPECT_EQ(peerDoor(), nullptr);
    EXPECT_EQ(sides_.log.size(), 1u);
}

}  // namespace
}  // namespace transfertest

#include "core/options/core_options.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/meta/special_tags.h"
#include "core/net/network_protocol.h"
#include "core/strings/priority_names.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "support/bytes.h"
#include "support/files.h"
#include "support/process_objects.h"
#include "support/temp_dir.h"
#include "support/ui_capture.h"
#include "v4ada/error/error.h"
#include "v4ada/file/fs.h"
#include "v4ada/file/ram_file.h"
#include "v4ada/memory/malloc4.h"
#include "v4ada/net/protocol.h"
#include "v4ada/net/proxy_settings.h"

using namespace support;

namespace {

class CoreOptionsTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = setCurrentUI(&ui_); }
    void TearDown() override {
        setCurrentUI(previous_);
        freePriorityNames();
    }

    std::string prefs() const { return dir_ / "pref.met"; }

    void writePrefsFile(UserMeta& user, Meta& options) {
        i4_file* file = fs_open(prefs().c_str(), kFsWrite | kFsTruncate);
        ASSERT_NE(file, nullptr);
        ASSERT_TRUE(user.toDisk(file));
        ASSERT_TRUE(options.toDisk(file));
        delete file;
    }

    static UserMeta namedUser(const char* name) {
        UserMeta user;
        UniqueID hash;
        hash.bytes()[3] = 0x42;
        user.setUserHash(hash);
        user.setNickname(name);
        return user;
    }

    static void setFloat(Meta& m, const char* key, float value) { m.set(key, &value, kTagFloat); }
    static void setInt(Meta& m, const char* key, int32_t value) { m.set(key, &value, kTagInt); }

    support::ProcessObjects process_{support::ProcessObjects::kSpecialTags};
    support::TempDir dir_;
    CaptureUI ui_{CaptureUI::Install::kDetached};
    UIGateway* previous_ = nullptr;
};

bool isNewNickname(const char* name) {
    if (!name || std::strlen(name) != 5) return false;
    for (const char* p = name; *p; p++)
        if (*p < 'a' || *p > 'y') return false;
    return true;
}

// Pieces of the expected file.
Bytes intTag(const std::string& n, int32_t v) { return cat({u8(3), counted_text(n), le32(static_cast<uint32_t>(v))}); }
Bytes floatTag(const std::string& n, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return cat({u8(4), counted_text(n), le32(bits)});
}

TEST_F(CoreOptionsTest, NoFileGivesNewIdentityAndDefaultsThatSaveAndReload) {
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    EXPECT_EQ(std::string(options.prefsPath().c_str()), prefs());
    EXPECT_EQ(std::string(options.filtersPath().c_str()), dir_ / "filters.txt");

    OwnedString nick = options.nickname();
    EXPECT_TRUE(isNewNickname(nick.c_str())) << nick.c_str();
    UniqueID hash = options.ownUserMeta()->userHash();
    EXPECT_FALSE(hash.isZero());
    EXPECT_EQ(options.ownUserMeta()->getSpecialInt(ST_VERSION), kClientVersion);
    EXPECT_EQ(options.ownUserMeta()->getInt(kOwnRecordMark), 1);
    EXPECT_EQ(options.maxConnections(), 45);
    EXPECT_EQ(options.screenLines(), 24);
    EXPECT_EQ(options.maxUpSpeed(), 5.0);
    EXPECT_EQ(options.maxDownSpeed(), 5.0);
    EXPECT_EQ(options.uploadLimit(), 0.0);
    EXPECT_EQ(options.downloadLimit(), 0.0);
    EXPECT_FALSE(options.partStyle());
    ASSERT_NE(options.proxySettings(), nullptr);
    EXPECT_EQ(options.proxySettings()->type, kProxyNone);
    EXPECT_FALSE(file_exists(prefs()));
    EXPECT_FALSE(file_exists(prefs() + ".corrupt"));
    EXPECT_EQ(ui_.text(), "");

    ASSERT_TRUE(options.save());
    // "pr" never reaches the file and is back in memory.
    EXPECT_EQ(options.ownUserMeta()->getInt(kOwnRecordMark), 1);
    {
        i4_file* file = fs_open(prefs().c_str(), kFsRead);
        ASSERT_NE(file, nullptr);
        UserMeta user;
        Meta opts;
        ASSERT_TRUE(user.fromDisk(file));
        ASSERT_TRUE(opts.fromDisk(file));
        EXPECT_TRUE(file->atEnd());
        EXPECT_EQ(user.findTag(kOwnRecordMark), nullptr);
        delete file;
    }

    CoreOptions again;
    again.loadFrom((dir_.path() + "/").c_str());
    EXPECT_EQ(std::string(again.prefsPath().c_str()), prefs());
    EXPECT_STREQ(again.nickname().c_str(), nick.c_str());
    EXPECT_TRUE(again.ownUserMeta()->userHash().equals(hash));
    EXPECT_EQ(again.ownUserMeta()->getInt(kOwnRecordMark), 1);
}

TEST_F(CoreOptionsTest, LoadedOptionsFollowTheirRules) {
    {
        UserMeta user = namedUser("zeros");
        Meta opts;
        setFloat(opts, kOptMaxUpSpeed, 0.0f);
        setFloat(opts, kOptMaxDownSpeed, 0.0f);
        setInt(opts, kOptMaxConnections, 0);
        setFloat(opts, kOptUploadLimit, 3.0f);
        writePrefsFile(user, opts);
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        EXPECT_STREQ(options.nickname().c_str(), "zeros");
        EXPECT_EQ(options.maxUpSpeed(), 5.0);
        EXPECT_EQ(options.maxDownSpeed(), 5.0);
        EXPECT_EQ(options.maxConnections(), 45);
        EXPECT_EQ(options.screenLines(), 24);
        EXPECT_EQ(options.uploadLimit(), 3.0);
        EXPECT_EQ(options.downloadLimit(), 9.0);  // the ratio rule holds for loaded values
        EXPECT_EQ(options.proxySettings()->type, kProxyNone);
    }
    {
        UserMeta user = namedUser("full");
        int32_t version = 999, port = 4662;
        user.setSpecial(ST_VERSION, &version);
        user.setSpecial(ST_PORT, &port);
        Meta opts;
        setFloat(opts, kOptMaxUpSpeed, 12.5f);
        setFloat(opts, kOptMaxDownSpeed, 7.25f);
        setInt(opts, kOptMaxConnections, 30);
        setInt(opts, kOptScreenLines, 50);
        setInt(opts, kOptPartStyle, 1);
        setFloat(opts, kOptUploadLimit, 2.5f);
        setFloat(opts, kOptDownloadLimit, 100.0f);
        setFloat(opts, kOptLineDown, 40.0f);
        setInt(opts, kOptProxyType, kProxySocks5);
        opts.set(kOptProxyHost, "proxy.test", kTagString);
        setInt(opts, kOptProxyPort, 1080);
        opts.set(kOptProxyUser, "me", kTagString);
        opts.set(kOptProxyPassword, "secret", kTagString);
        writePrefsFile(user, opts);
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        EXPECT_EQ(options.maxUpSpeed(), 12.5);
        EXPECT_EQ(options.maxDownSpeed(), 7.25);
        EXPECT_EQ(options.maxConnections(), 30);
        EXPECT_EQ(options.screenLines(), 50);
        EXPECT_TRUE(options.partStyle());
        EXPECT_EQ(options.uploadLimit(), 2.5);
        EXPECT_EQ(options.downloadLimit(), 7.5);  // fractions are kept
        EXPECT_EQ(options.lineSpeedDown(), 40.0);
        std::shared_ptr<const ProxySettings> proxy = options.proxySettings();
        ASSERT_NE(proxy, nullptr);
        EXPECT_EQ(proxy->type, kProxySocks5);
        EXPECT_STREQ(proxy->host(), "proxy.test");
        EXPECT_EQ(proxy->port, 1080);
        EXPECT_STREQ(proxy->user(), "me");
        EXPECT_STREQ(proxy->password(), "secret");
        UserMeta* own = options.ownUserMeta();
        EXPECT_EQ(own->findSpecial(ST_PORT), nullptr);
        EXPECT_EQ(own->getSpecialInt(ST_VERSION), kClientVersion);
        EXPECT_EQ(own->getInt(kOwnRecordMark), 1);
    }
}

TEST_F(CoreOptionsTest, UnreadablePrefsAreKeptAsideAndReported) {
    UserMeta zeroHash;
    zeroHash.setNickname("old");
    Meta opts;
    setInt(opts, kOptMaxConnections, 30);
    i4_ram_file_class image(nullptr, 0, 64);
    ASSERT_TRUE(zeroHash.toDisk(&image));
    ASSERT_TRUE(opts.toDisk(&image));
    std::string zeroHashFile(reinterpret_cast<char*>(image.data()), static_cast<size_t>(image.size()));
    i4_free(image.data());

    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"all-zero user hash", zeroHashFile},
        {"file ends inside the record", zeroHashFile.substr(0, 30)},
        {"unknown tag type", std::string(22, '\x01') + as_text(le32(1)) + "\x09"},
    };
    for (const auto& c : cases) {
        std::remove((prefs() + ".corrupt").c_str());
        ui_.clear();
        write_file(prefs(), c.bytes);
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        EXPECT_TRUE(isNewNickname(options.nickname().c_str())) << c.what;
        EXPECT_FALSE(options.ownUserMeta()->userHash().isZero()) << c.what;
        EXPECT_EQ(options.maxConnections(), 45) << c.what;
        int32_t value = 0;
        EXPECT_FALSE(options.getIntOption(kOptMaxConnections, &value)) << c.what;
        EXPECT_FALSE(file_exists(prefs())) << c.what;
        EXPECT_EQ(read_file(prefs() + ".corrupt"), c.bytes) << c.what;
        EXPECT_NE(ui_.text().find("kept as"), std::string::npos) << c.what << ": " << ui_.text();
    }
}

// A pref.met that exists but cannot be read at all is no missing file: the
// load fails loudly, naming the file and the reason, with nothing made,
// moved or saved over it.
TEST_F(CoreOptionsTest, PrefsThatCannotBeReadFailTheLoadAndStayAsTheyAre) {
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    std::vector<Case> cases = {
        {"a directory", [&] { ASSERT_EQ(::mkdir(prefs().c_str(), 0700), 0); }, "not a regular file"},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(prefs().c_str(), 0600), 0); }, "not a regular file"},
    };
    if (::geteuid() != 0) {  // root reads a file of mode 000 all the same
        cases.push_back({"no permission",
                         [&] {
                             ASSERT_TRUE(write_file(prefs(), "x"));
                             ASSERT_EQ(::chmod(prefs().c_str(), 0), 0);
                         },
                         "Permission denied"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.make();
        CoreOptions options;
        try {
            options.loadFrom(dir_.path().c_str());
            ADD_FAILURE() << "loaded";
        } catch (const i4_err& error) {
            std::string message = error.message();
            EXPECT_NE(message.find(prefs()), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
        EXPECT_FALSE(file_exists(prefs() + ".corrupt"));
        EXPECT_FALSE(file_exists(prefs() + ".tmp"));
        struct stat st;
        ASSERT_EQ(::lstat(prefs().c_str(), &st), 0);
        ::chmod(prefs().c_str(), 0600);
        std::filesystem::remove_all(prefs());
    }
}

// Settings the user changes are saved once per change; nothing else saves.
TEST_F(CoreOptionsTest, SaveIfChangedWritesOnlyAfterAChange) {
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    EXPECT_TRUE(options.saveIfChanged());
    EXPECT_FALSE(file_exists(prefs()));  // a fresh identity alone is no change

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"name", [&] { options.setNickname("kilroy"); }},
        {"upload limit", [&] { options.setUploadLimit(12); }},
        {"connections", [&] { options.setMaxConnections(30); }},
        {"page length", [&] { options.setScreenLines(40); }},
        {"line speed", [&] { options.setLineSpeedDown(3.5); }},
        {"option tag", [&] { options.setIntOption("doorPort", 4663); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        std::remove(prefs().c_str());
        change();
        EXPECT_TRUE(options.saveIfChanged());
        EXPECT_TRUE(file_exists(prefs()));
        // The same value again is no change.
        std::remove(prefs().c_str());
        change();
        EXPECT_TRUE(options.saveIfChanged());
        EXPECT_FALSE(file_exists(prefs()));
    }
    // Rates measured while running are no settings change.
    options.setMaxUpSpeed(9.0);
    options.setCurrentDownRate(2.0);
    EXPECT_TRUE(options.saveIfChanged());
    EXPECT_FALSE(file_exists(prefs()));

    ASSERT_TRUE(options.save());
    CoreOptions again;
    again.loadFrom(dir_.path().c_str());
    EXPECT_STREQ(again.nickname().c_str(), "kilroy");
    EXPECT_EQ(again.maxConnections(), 30);
}

// The skin named by "uiPath" replaces the default one once pref.met is read.
TEST_F(CoreOptionsTest, UiPathNamesTheSkin) {
    support::ProcessObjects strings{support::ProcessObjects::kStringTable};
    ASSERT_TRUE(write_file(dir_ / "skins/default/ui.xml",
                           "<ui><STRINGS><STRINGS_NONE label=\"default skin\"/></STRINGS></ui>"));
    ASSERT_TRUE(write_file(dir_ / "mine/ui.xml", "<ui><STRINGS><STRINGS_NONE label=\"my skin\"/></STRINGS></ui>"));
    {
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        options.setStringOption(kOptUiPath, (dir_.path() + "/mine/").c_str());
        ASSERT_TRUE(options.save());
    }
    ASSERT_TRUE(XMLStringTable::instance()->loadFiles(dir_.path().c_str(), nullptr));
    EXPECT_STREQ(XMLStringTable::instance()->get(STRINGS_NONE), "default skin");
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    EXPECT_STREQ(XMLStringTable::instance()->get(STRINGS_NONE), "my skin");
}

TEST_F(CoreOptionsTest, LoneBackupIsRecovered) {
    OwnedString nick;
    {
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        nick = options.nickname();
        ASSERT_TRUE(options.save());
    }
    ASSERT_EQ(std::rename(prefs().c_str(), (prefs() + ".bak").c_str()), 0);
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    EXPECT_STREQ(options.nickname().c_str(), nick.c_str());
    EXPECT_TRUE(file_exists(prefs()));
}

TEST_F(CoreOptionsTest, FailedSaveKeepsTheOldFileAndSaysSo) {
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    ASSERT_TRUE(options.save());
    std::string before = read_file(prefs());
    options.setNickname("changed");
    // A directory in the way of the temporary file makes the save fail.
    write_file(prefs() + ".tmp/blocker", "x");
    EXPECT_FALSE(options.save());
    EXPECT_EQ(read_file(prefs()), before);
    EXPECT_NE(ui_.text().find("Settings couldn't be saved"), std::string::npos) << ui_.text();
    EXPECT_EQ(options.ownUserMeta()->getInt(kOwnRecordMark), 1);
}

TEST_F(CoreOptionsTest, SmallPrefsFileLayout) {
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    UniqueID hash;
    for (int i = 0; i < 16; i++) hash.bytes()[i] = static_cast<uint8_t>(i);
    options.ownUserMeta()->setUserHash(hash);
    options.setNickname("abc");
    options.setOwnIP(0x0500A8C0);  // 192.168.0.5
    options.setTcpPort(4662);
    options.setUploadLimit(12);
    ASSERT_TRUE(options.save());

    Bytes expected = cat({le32(0x0500A8C0), le16(4662), id_bytes(hash),  //
                          le32(2), intTag("\x11", 1050), u8(2), counted_text("\x01"), counted_text("abc"),
                          le32(9), intTag("pType", 0), floatTag("userMaxUpF", 12.0f), floatTag("userMaxDownF", 0.0f),
                          floatTag("lineDown", 0.0f), floatTag("maxUpSpeed", 5.0f), floatTag("maxDownSpeed", 5.0f),
                          intTag("maxCon", 45), intTag("screenLines", 24), intTag("partstyle", 0)});
    EXPECT_EQ(read_bytes(prefs()), expected);
}

TEST_F(CoreOptionsTest, RatioRule) {
    const struct {
        const char* what;
        double up, down;  // state before
        bool setUpload;
        double value;
        double upAfter, downAfter;
    } cases[] = {
        {"upload 3, no download limit", 0, 0, true, 3, 3, 9},
        {"upload 8 caps 50 at 32", 0, 50, true, 8, 8, 32},
        {"upload 8 leaves 20", 0, 20, true, 8, 8, 20},
        {"upload 4 caps 50 at 12", 0, 50, true, 4, 4, 12},
        {"upload 12 leaves the download limit", 0, 50, true, 12, 12, 50},
        {"upload 1000000 means none", 0, 50, true, 1000000, 0, 50},
        {"upload 2.5 keeps fractions", 0, 0, true, 2.5, 2.5, 7.5},
        {"download 20 with upload 4", 4, 0, false, 20, 4, 12},
        {"download 20 with upload 7", 7, 0, false, 20, 7, 20},
        {"download 0 with upload 7", 7, 0, false, 0, 7, 28},
        {"download 20 with no upload limit", 0, 0, false, 20, 0, 20},
    };
    for (const auto& c : cases) {
        CoreOptions options;
        ASSERT_TRUE(options.setDownloadLimit(c.down));
        ASSERT_TRUE(options.setUploadLimit(c.up));
        if (c.up != 0) {
            ASSERT_TRUE(options.setDownloadLimit(c.down));
        }
        EXPECT_TRUE(c.setUpload ? options.setUploadLimit(c.value) : options.setDownloadLimit(c.value)) << c.what;
        EXPECT_EQ(options.uploadLimit(), c.upAfter) << c.what;
        EXPECT_EQ(options.downloadLimit(), c.downAfter) << c.what;
    }

    CoreOptions options;
    options.setUploadLimit(20);
    options.setDownloadLimit(30);
    EXPECT_FALSE(options.setUploadLimit(-1));
    EXPECT_FALSE(options.setDownloadLimit(-0.5));
    EXPECT_FALSE(options.setUploadLimit(std::nan("")));
    EXPECT_EQ(options.uploadLimit(), 20.0);
    EXPECT_EQ(options.downloadLimit(), 30.0);
}

TEST_F(CoreOptionsTest, NicknameIsCutTo64) {
    CoreOptions options;
    options.setNickname(std::string(100, 'n').c_str());
    EXPECT_EQ(std::string(options.nickname().c_str()), std::string(64, 'n'));
}

TEST_F(CoreOptionsTest, OptionAccessors) {
    CoreOptions options;
    int32_t value = 0;
    EXPECT_FALSE(options.getIntOption("doorPort", &value));
    EXPECT_TRUE(options.getStringOption("temp").isNull());
    options.setIntOption("doorPort", 4662);
    options.setIntOption("doorPort", 4663);
    options.setStringOption("temp", "/tmp/x");
    EXPECT_TRUE(options.getIntOption("doorPort", &value));
    EXPECT_EQ(value, 4663);
    EXPECT_STREQ(options.getStringOption("temp").c_str(), "/tmp/x");
    // A tag of another kind under the key counts as absent.
    EXPECT_FALSE(options.getIntOption("temp", &value));
    EXPECT_TRUE(options.getStringOption("doorPort").isNull());
}

TEST_F(CoreOptionsTest, OwnRecordAccessors) {
    CoreOptions options;
    options.setNickname("me");
    EXPECT_EQ(options.setOwnIP(0x0100007F), 0u);
    EXPECT_EQ(options.setOwnIP(0x0200007F), 0x0100007Fu);
    options.setTcpPort(4662);
    options.setBuddyIP(0x0300007F);
    options.setBuddyPort(4672);
    EXPECT_EQ(options.ownIP(), 0x0200007Fu);
    EXPECT_EQ(options.tcpPort(), 4662);
    EXPECT_EQ(options.buddyIP(), 0x0300007Fu);
    EXPECT_EQ(options.buddyPort(), 4672);

    i4_ram_file_class packet(nullptr, 0, 64);
    ASSERT_TRUE(options.writeOwnMeta(&packet));
    EXPECT_EQ(packet.size(), static_cast<i4_pos>(options.ownMetaSize()));
    packet.seek(0);
    UserMeta copy;
    ASSERT_TRUE(copy.fromNetwork(&packet));
    EXPECT_EQ(copy.ip(), 0x0200007Fu);
    EXPECT_STREQ(copy.nickname(), "me");
    i4_free(packet.data());
}

// setProxy keeps a copy, counts as a change and leaves the process-wide
// protocol to its caller; a reader keeps the settings it took.
TEST_F(CoreOptionsTest, ProxyChangesPersistAndLeaveTheProtocolAlone) {
    {
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        EXPECT_FALSE(options.setProxy(nullptr));

        ProxySettings wanted;
        wanted.type = kProxySocks4;
        wanted.port = 1080;
        wanted.setHost("socks.test");
        std::shared_ptr<const ProxySettings> before = options.proxySettings();
        uint64_t changes = options.settingsChanges();
        EXPECT_TRUE(options.setProxy(&wanted));
        EXPECT_EQ(networkProtocol(), nullptr);
        EXPECT_GT(options.settingsChanges(), changes);
        EXPECT_NE(options.proxySettings().get(), &wanted);
        EXPECT_TRUE(options.proxySettings()->equals(&wanted));
        // The settings handed out before are still whole.
        ASSERT_NE(before, nullptr);
        EXPECT_EQ(before->type, kProxyNone);
        EXPECT_FALSE(options.setProxy(&wanted));
        ASSERT_TRUE(options.save());
    }
    {
        CoreOptions options;
        options.loadFrom(dir_.path().c_str());
        std::shared_ptr<const ProxySettings> loaded = options.proxySettings();
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->type, kProxySocks4);
        EXPECT_STREQ(loaded->host(), "socks.test");
        EXPECT_EQ(loaded->port, 1080);

        EXPECT_TRUE(options.setProxy(nullptr));
        EXPECT_EQ(options.proxySettings(), nullptr);
        EXPECT_EQ(loaded->type, kProxySocks4);
        EXPECT_FALSE(options.setProxy(nullptr));
        ASSERT_TRUE(options.save());
    }
    CoreOptions options;
    options.loadFrom(dir_.path().c_str());
    EXPECT_EQ(options.proxySettings()->type, kProxyNone);
    EXPECT_EQ(networkProtocol(), nullptr);
}

// Makes and destroys the instance by hand: those calls are what it tests.
TEST_F(CoreOptionsTest, ProcessWideInstanceIsCreatedAndDestroyedExplicitly) {
    EXPECT_EQ(coreOptions(), nullptr);
    CoreOptions::createInstance();
    CoreOptions* first = coreOptions();
    ASSERT_NE(first, nullptr);
    CoreOptions::createInstance();
    EXPECT_EQ(coreOptions(), first);
    coreOptions()->loadFrom(dir_.path().c_str());
    EXPECT_NE(priorityName(1), nullptr);
    CoreOptions::destroyInstance();
    EXPECT_EQ(coreOptions(), nullptr);
    EXPECT_EQ(priorityName(1), nullptr);
}

}  // namespace

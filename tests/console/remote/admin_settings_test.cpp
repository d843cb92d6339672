// The remote-control settings, their commands and the handle table.
#include "console/remote/admin_settings.h"

#include <gtest/gtest.h>

#include "support/process_objects.h"
#include "support/ui_capture.h"
#include "console/cli/option_commands.h"
#include "console/remote/admin_commands.h"
#include "console/remote/handle_table.h"
#include "core/options/core_options.h"

namespace {

class AdminSettingsTest : public ::testing::Test {
protected:
    // Runs a command handler on a copy of the line; returns what it printed.
    std::string run(void (*command)(char*), const char* line) {
        ui_.clear();
        std::string copy(line);
        command(copy.data());
        return ui_.text();
    }

    support::ProcessObjects process_{support::ProcessObjects::kCoreOptions | support::ProcessObjects::kAdminSettings};
    support::CaptureUI ui_;
};

}  // namespace

TEST_F(AdminSettingsTest, DefaultsLoadAndSaveThroughTheOptions) {
    AdminSettings* admin = adminSettings();
    CoreOptions* options = coreOptions();
    admin->load(options);  // nothing stored yet
    EXPECT_EQ(admin->controlPort(), 4663);
    EXPECT_STREQ(admin->name().c_str(), "");
    EXPECT_STREQ(admin->pass().c_str(), "");

    admin->setLogin("tam", "drisolv");
    admin->setControlPort(5000);
    admin->save(options);
    int32_t port = 0;
    ASSERT_TRUE(options->getIntOption(kOptAdminDoorPort, &port));
    EXPECT_EQ(port, 5000);
    EXPECT_STREQ(options->getStringOption(kOptAdminName).c_str(), "tam");
    EXPECT_STREQ(options->getStringOption(kOptAdminPass).c_str(), "drisolv");

    AdminSettings fresh;
    fresh.load(options);
    EXPECT_EQ(fresh.controlPort(), 5000);
    EXPECT_STREQ(fresh.name().c_str(), "tam");
    EXPECT_STREQ(fresh.pass().c_str(), "drisolv");

    // A stored port that is no port loads as the default.
    for (int32_t stored : {0, -1, 65536}) {
        options->setIntOption(kOptAdminDoorPort, stored);
        fresh.load(options);
        EXPECT_EQ(fresh.controlPort(), 4663) << stored;
    }
}

TEST_F(AdminSettingsTest, LoginNeedsBothTextsSetAndExact) {
    AdminSettings admin;
    struct Case {
        const char* setName;
        const char* setPass;
        const char* name;
        const char* pass;
        bool accepted;
    };
    const Case cases[] = {
        {"", "", "", "", false},         // remote control is off by default
        {"u", "", "u", "", false},       // either text empty: off
        {"", "p", "", "p", false},
        {"u", "p", "u", "p", true},
        {"u", "p", "u", "P", false},     // case-sensitive
        {"u", "p", "U", "p", false},
        {"u", "p", "u", "p ", false},
        {"u", "p", "u", nullptr, false},
    };
    for (const Case& c : cases) {
        admin.setLogin(c.setName, c.setPass);
        EXPECT_EQ(admin.accepts(c.name, c.pass), c.accepted) << c.setName << "/" << c.setPass;
    }
}

TEST_F(AdminSettingsTest, AportTakesPortsOnly) {
    AdminSettings* admin = adminSettings();
    EXPECT_EQ(run(aport_command, "aport 5000"), "Port will change when you restart.\n");
    EXPECT_EQ(admin->controlPort(), 5000);
    int32_t stored = 0;
    EXPECT_TRUE(coreOptions()->getIntOption(kOptAdminDoorPort, &stored));
    EXPECT_EQ(stored, 5000);
    for (const char* line : {"aport", "aport x", "aport 0", "aport 65536", "aport -1", "aport 12ab"})
        EXPECT_EQ(run(aport_command, line), "5000\n") << line;
    EXPECT_EQ(run(aport_command, "aport 65535"), "Port will change when you restart.\n");
    EXPECT_EQ(admin->controlPort(), 65535);
}

TEST_F(AdminSettingsTest, PassSetsBothOrClearsBoth) {
    AdminSettings* admin = adminSettings();
    EXPECT_EQ(run(pass_command, "pass tam drisolv"), "");
    EXPECT_STREQ(admin->name().c_str(), "tam");
    EXPECT_STREQ(admin->pass().c_str(), "drisolv");
    EXPECT_STREQ(coreOptions()->getStringOption(kOptAdminPass).c_str(), "drisolv");
    for (const char* line : {"pass tam", "pass"}) {
        admin->setLogin("a", "b");
        EXPECT_EQ(run(pass_command, line), "") << line;
        EXPECT_STREQ(admin->name().c_str(), "") << line;
        EXPECT_STREQ(admin->pass().c_str(), "") << line;
    }
}

TEST_F(AdminSettingsTest, PassRefusesTextsLongerThanPrefsKeep) {
    AdminSettings* admin = adminSettings();
    const std::string longest(kOptionTextMax, 'p');
    EXPECT_EQ(run(pass_command, ("pass " + longest + " " + longest).c_str()), "");
    EXPECT_EQ(std::string(admin->pass().c_str()), longest);
    admin->setLogin("tam", "drisolv");
    admin->save(coreOptions());
    struct Case {
        std::string line;
        const char* shown;
    };
    const Case cases[] = {
        {"pass tam " + longest + "x", "Too long: the password takes at most 128 characters; nothing changed.\n"},
        {"pass " + longest + "x drisolv", "Too long: the admin name takes at most 128 characters; nothing changed.\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(pass_command, c.line.c_str()), c.shown) << c.line;
        EXPECT_STREQ(admin->name().c_str(), "tam") << c.line;
        EXPECT_STREQ(admin->pass().c_str(), "drisolv") << c.line;
        EXPECT_STREQ(coreOptions()->getStringOption(kOptAdminName).c_str(), "tam") << c.line;
        EXPECT_STREQ(coreOptions()->getStringOption(kOptAdminPass).c_str(), "drisolv") << c.line;
    }
}

TEST(HandleTable, IdsFromOneStableUntilDroppedNeverReused) {
    HandleTable table;
    int a = 0, b = 0;
    EXPECT_EQ(table.find(&a), 0u);
    EXPECT_EQ(table.idFor(&a), 1u);
    EXPECT_EQ(table.idFor(&b), 2u);
    EXPECT_EQ(table.idFor(&a), 1u);
    EXPECT_EQ(table.find(&b), 2u);
    table.drop(&a);
    EXPECT_EQ(table.find(&a), 0u);
    EXPECT_EQ(table.idFor(&a), 3u);  // a new object at the same address
    table.drop(&b);
    table.drop(&b);
    EXPECT_EQ(table.count(), 1);
    EXPECT_EQ(table.idFor(nullptr), 0u);
}

#include "console/cli/command_table.h"

#include "console/cli/friend_commands.h"
#include "console/cli/general_commands.h"
#include "console/cli/option_commands.h"
#include "console/cli/overlay_commands.h"
#include "console/cli/selftest_commands.h"
#include "console/remote/admin_commands.h"
#include "core/strings/string_table.h"

namespace {

// Public list first, then the master list; each list keeps this order. A
// word joins the table together with its handler.
constexpr CommandRecord kCommands[] = {
    {"afr", false, afr_command, "helpAfr", "afr #\n\tAdd friend, # from connection list (vp)"},
    {"aport", false, aport_command, nullptr, nullptr},
    {"boot", false, boot_command, "helpBoot",
     "boot ip port\n\tBootstrap from the specified ip and port (UDP)\n\tExample: boot 192.168.0.4 7893"},
    {"dumax", false, dumax_command, "helpDumax",
     "dumax # #\n\tSets the maximum download and upload bandwidth.(in KB/sec)"},
    {"echo", false, echo_command, "helpEcho", "echo\n\tEcho a string to the console"},
    {"g", false, g_command, "helpG", "g\n\tGet stats"},
    {"getloc", false, getloc_command, nullptr, nullptr},
    {"gfr", false, gfr_command, "helpGfr",
     "gfr\n\tGet list of friends\ngfr #\n\tView/fetch directories of friend #\ngfr # #\n\tView/fetch files in "
     "friend #, directory #\ngfr # # #\n\tDownload file, friend #, directory #, file #\n\tthe 'r' flag after a friend "
     "# or dir # ignores will\n\tignore the cache and re-request from the friend."},
    {"line", false, line_command, "helpLine",
     "line #\n\tSets the maximum possible download speed of your line.(in KB/sec)"},
    {"lines", false, lines_command, "helpLines",
     "lines #\n\tSets the number of screen lines tandrel thinks you have"},
    {"master", false, master_command, nullptr, nullptr},
    {"mcon", false, mcon_command, "helpMcon",
     "mcon #\n\tSets max. number of connections from peers allowed to your machine"},
    {"message", false, message_command, "helpMessage", "message IP Port\n\tMessage another user"},
    {"name", false, name_command, "helpName", "name [desired name]\n\tChange your user name"},
    {"pass", false, pass_command, "helpPass",
     "pass (name password)\n\tSets the name and password to allow a remote controller\n\tof this client. If name ans "
     "password are left blank then the username\n\tand password are cleared and no remote control is allowed\n\t"
     "Example: pass tam drisolv"},
    {"q", false, quit_command, "helpQ", "q\n\tQuit"},
    {"retest", false, retest_command, "helpRetest", "retest\n\tRetest to see if you are firwalled"},
    {"rfr", false, rfr_command, "helpRfr", "rfr #\n\tRemove friend, index #"},
    {"s", false, s_command, "helpS",
     "s searchstring (-searchtype[Audio, Video, Image, Pro, Doc, Col ])\n\tsearch\n\tExample: s fat day -Audio"},
    {"uport", false, uport_command, "helpUport",
     "uport #\n\tSets the UDP port that you listen for other clients on. Takes effect upon restart"},
    {"vbud", false, vbud_command, "helpVbud", "vbud\n\tView buddies"},
    {"vc", false, vc_command, "helpVc", "vc\n\tView contacts"},
    {"verbose", false, verbose_command, "helpVerbose",
     "verbose (-)\n\tSets debugging messages on or off(-)"},
    {"vr", false, vr_command, "helpVr", "vr\n\tView results"},
    {"?", false, help_command, "helpHelp", "?\n\tPrint help"},
    {"dir", true, dir_command, nullptr, nullptr},
    {"test", true, test_command, nullptr, nullptr},
    {"testp", true, testp_command, nullptr, nullptr},
    {"vcl", true, vcl_command, nullptr, nullptr},
    {"ffriend", true, ffriend_command, nullptr, nullptr},
    {"testDrop", true, testDrop_command, nullptr, nullptr},
    {"testCloser", true, testCloser_command, nullptr, nullptr},
    {"testRouter", true, testRouter_command, nullptr, nullptr},
    {"collect", true, collect_command, nullptr, nullptr},
    {"check", true, check_command, nullptr, nullptr},
    {"nearest", true, nearest_command, nullptr, nullptr},
    {"delay", true, delay_command, nullptr, nullptr},
};

}  // namespace

void build_command_table(Servant* interpreter) {
    if (!interpreter) return;
    const XMLStringTable* table = XMLStringTable::instance();
    for (const CommandRecord& record : kCommands) {
        OwnedString help(record.helpText ? record.helpText : "");
        if (record.helpKey && table) table->lookup(record.helpKey, help);
        if (record.master) {
            interpreter->addMaster(record.word, record.handler, help.c_str());
        } else {
            interpreter->addPublic(record.word, record.handler, help.c_str());
        }
    }
}

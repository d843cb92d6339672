#include "console/cli/command_table.h"

#include "console/cli/friend_commands.h"
#include "console/cli/general_commands.h"
#include "console/cli/option_commands.h"
#include "console/remote/admin_commands.h"
#include "core/strings/string_table.h"

namespace {

// Public list first, then the master list; each list keeps this order. A
// word joins the table together with its handler.
constexpr CommandRecord kCommands[] = {
    {"afr", false, afr_command, "helpAfr", "afr #\n\tAdd friend, # from connection list (vp)"},
    {"aport", false, aport_command, nullptr, nullptr},
    {"dumax", false, dumax_command, "helpDumax",
     "dumax # #\n\tSets the maximum download and upload bandwidth.(in KB/sec)"},
    {"echo", false, echo_command, "helpEcho", "echo\n\tEcho a string to the console"},
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
    {"rfr", false, rfr_command, "helpRfr", "rfr #\n\tRemove friend, index #"},
    {"verbose", false, verbose_command, "helpVerbose",
     "verbose (-)\n\tSets debugging messages on or off(-)"},
    {"?", false, help_command, "helpHelp", "?\n\tPrint help"},
    {"ffriend", true, ffriend_command, nullptr, nullptr},
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

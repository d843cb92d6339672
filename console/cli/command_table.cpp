#include "console/cli/command_table.h"

#include "console/cli/download_commands.h"
#include "console/cli/friend_commands.h"
#include "console/cli/general_commands.h"
#include "console/cli/option_commands.h"
#include "console/cli/master_commands.h"
#include "console/cli/overlay_commands.h"
#include "console/cli/result_link_commands.h"
#include "console/cli/selftest_commands.h"
#include "console/cli/share_commands.h"
#include "console/cli/status_commands.h"
#include "console/cli/upload_peer_commands.h"
#include "console/remote/admin_commands.h"
#include "core/strings/string_table.h"

namespace {

// Public list first, then the master list; each list keeps this order. A
// word joins the table together with its handler.
constexpr CommandRecord kCommands[] = {
    {"a", false, a_command, "helpA", "a dirname\n\tAdd shared directory.\n\tExample: a usr/movies"},
    {"a+", false, a_plus_command, "helpAPlus",
     "a+ dirname\n\tAdd shared directory include subdirectories\n\tExample: a+ c:\\program files"},
    {"adds", false, adds_command, nullptr, nullptr},
    {"afr", false, afr_command, "helpAfr", "afr #\n\tAdd friend, # from connection list (vp)"},
    {"aport", false, aport_command, nullptr, nullptr},
    {"boot", false, boot_command, "helpBoot",
     "boot ip port\n\tBootstrap from the specified ip and port (UDP)\n\tExample: boot 192.168.0.4 7893"},
    {"d", false, d_command, "helpD",
     "d #\n\tDownload a search result. Where # is the number of the result\n\tExample: d 5"},
    {"dld", false, dld_command, nullptr, nullptr},
    {"dllink", false, dllink_command, "helpDllink",
     "dllink\n\tStarts a download from an vxt4-link\n\tExample: dllink vxt4://|file|<filename>|<size in bytes>|<hash>|"},
    {"dumax", false, dumax_command, "helpDumax",
     "dumax # #\n\tSets the maximum download and upload bandwidth.(in KB/sec)"},
    {"echo", false, echo_command, "helpEcho", "echo\n\tEcho a string to the console"},
    {"fral", false, fral_command, "helpFral", "fral #\n\tAllow files to be viewed (0=yes, 1=only friends, 2=no)"},
    {"g", false, g_command, "helpG", "g\n\tGet stats"},
    {"getloc", false, getloc_command, nullptr, nullptr},
    {"gfr", false, gfr_command, "helpGfr",
     "gfr\n\tGet list of friends\ngfr #\n\tView/fetch directories of friend #\ngfr # #\n\tView/fetch files in "
     "friend #, directory #\ngfr # # #\n\tDownload file, friend #, directory #, file #\n\tthe 'r' flag after a friend "
     "# or dir # ignores will\n\tignore the cache and re-request from the friend."},
    {"import", false, import_command, "helpImport", "import [dirName]\n\tImport another temporary directory"},
    {"in", false, in_command, "helpIn", "in [dirname]\n\tSets the incoming directory"},
    {"line", false, line_command, "helpLine",
     "line #\n\tSets the maximum possible download speed of your line.(in KB/sec)"},
    {"lines", false, lines_command, "helpLines",
     "lines #\n\tSets the number of screen lines tandrel thinks you have"},
    {"m", false, m_command, "helpM",
     "m # [option] [# is the number displayed in the download view]\n\tModify download\n\tc -cancel the "
     "download\n\tp -pause the download\n\tr -resume the download\n\tl -change download priority to low\n\tn "
     "-change download priority to normal\n\th -change download priority to high\n\tH -change download priority "
     "to highest\n\tv -view the details of the download"},
    {"master", false, master_command, nullptr, nullptr},
    {"mcon", false, mcon_command, "helpMcon",
     "mcon #\n\tSets max. number of connections from peers allowed to your machine"},
    {"message", false, message_command, "helpMessage", "message IP Port\n\tMessage another user"},
    {"name", false, name_command, "helpName", "name [desired name]\n\tChange your user name"},
    {"pass", false, pass_command, "helpPass",
     "pass (name password)\n\tSets the name and password to allow a remote controller\n\tof this client. If name ans "
     "password are left blank then the username\n\tand password are cleared and no remote control is allowed\n\t"
     "Example: pass tam drisolv"},
    {"port", false, port_command, "helpPort",
     "port #\n\tSets the TCP port that you listen for other clients on. Takes effect upon restart."},
    {"pral", false, pral_command, "helpPral", "pral #\n\tAllow private messages (0=yes, 1=only friends, 2=no)"},
    {"q", false, quit_command, "helpQ", "q\n\tQuit"},
    {"refresh", false, refresh_command, "helpRefresh", "refresh\n\tRefresh shared directories"},
    {"retest", false, retest_command, "helpRetest", "retest\n\tRetest to see if you are firwalled"},
    {"rfr", false, rfr_command, "helpRfr", "rfr #\n\tRemove friend, index #"},
    {"s", false, s_command, "helpS",
     "s searchstring (-searchtype[Audio, Video, Image, Pro, Doc, Col ])\n\tsearch\n\tExample: s fat day -Audio"},
    {"save", false, save_command, "helpSave", "save (-)\n\tSets 'save corrupted complete downloads' on or off(-)"},
    {"space", false, space_command, "helpSpace",
     "space\n\tShow space available and the amount of space needed by downloads"},
    {"sup", false, sup_command, nullptr, nullptr},
    {"temp", false, temp_command, "helpTemp", "temp [dirname]\n\tSets the temp directory"},
    {"u", false, u_command, "helpU", "u #\n\tUnshared directory"},
    {"uport", false, uport_command, "helpUport",
     "uport #\n\tSets the UDP port that you listen for other clients on. Takes effect upon restart"},
    {"vbud", false, vbud_command, "helpVbud", "vbud\n\tView buddies"},
    {"vc", false, vc_command, "helpVc", "vc\n\tView contacts"},
    {"vd", false, vd_command, "helpVd", "vd\n\tView downloads"},
    {"verbose", false, verbose_command, "helpVerbose",
     "verbose (-)\n\tSets debugging messages on or off(-)"},
    {"vf", false, vf_command, "helpVf", "vf\n\tView shared files"},
    {"vo", false, vo_command, "helpVo", "vo\n\tView options"},
    {"vp", false, vp_command, "helpVp", "vp\n\tView connections to other clients"},
    {"vpart", false, vpart_command, "helpVpart", "vpart\n\tView Partners"},
    {"vq", false, vq_command, "helpVq", "vq\n\tView Upload Queue"},
    {"vs", false, vs_command, "helpVs", "vs\n\tView shared directories"},
    {"vr", false, vr_command, "helpVr", "vr\n\tView results"},
    // A second record of the same word: listed by the help, never run.
    {"vs", false, vs_command, "helpVs", "vs\n\tView shared files"},
    {"vso", false, vso_command, nullptr, nullptr},
    {"vu", false, vu_command, "helpVu", "vu\n\tView Uploads"},
    {"?", false, help_command, "helpHelp", "?\n\tPrint help"},
    {"dir", true, dir_command, nullptr, nullptr},
    {"test", true, test_command, nullptr, nullptr},
    {"testp", true, testp_command, nullptr, nullptr},
    {"fake", true, fake_command, nullptr, nullptr},
    {"vcl", true, vcl_command, nullptr, nullptr},
    {"fcon", true, fcon_command, nullptr, nullptr},
    {"killport", true, killport_command, nullptr, nullptr},
    {"exit", true, exit_command, nullptr, nullptr},
    {"ffriend", true, ffriend_command, nullptr, nullptr},
    {"setID", true, setid_command, nullptr, nullptr},
    {"setID+", true, setid_plus_command, nullptr, nullptr},
    {"testDrop", true, testDrop_command, nullptr, nullptr},
    {"testCloser", true, testCloser_command, nullptr, nullptr},
    {"testRouter", true, testRouter_command, nullptr, nullptr},
    {"collect", true, collect_command, nullptr, nullptr},
    {"ping", true, ping_command, nullptr, nullptr},
    {"vg", true, vg_command, nullptr, nullptr},
    {"check", true, check_command, nullptr, nullptr},
    {"nearest", true, nearest_command, nullptr, nullptr},
    {"see", true, see_command, nullptr, nullptr},
    {"kick", true, kick_command, nullptr, nullptr},
    {"delay", true, delay_command, nullptr, nullptr},
    {"reset", true, reset_command, nullptr, nullptr},
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

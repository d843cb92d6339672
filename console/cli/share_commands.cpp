#include "console/cli/share_commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/option_commands.h"
#include "console/cli/servant.h"
#include "core/bus/message_q.h"
#include "core/meta/file_list.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "transfer/hub/transfer_gateway.h"
#include "transfer/options/transfer_options.h"
#include "v4ada/file/fs.h"
#include "v4ada/string/text_convert.h"

namespace {

constexpr int kAllowedMax = 2;  // pral and fral take 0, 1 or 2

UIGateway* out() { return currentUI(); }

// A directory as a and a+ take it: its absolute path must list. Adds it
// (a second time only says so); false, with the path printed, when it
// is no directory.
bool shareDirectory(const char* path, OwnedString& absolute) {
    fs_absolute_path(path, absolute);
    const char* text = absolute.c_str() ? absolute.c_str() : "";
    if (!fs_is_listable(text)) {
        if (UIGateway* ui = out()) ui->printRaw(kDirectoryNotValidLine, text);
        return false;
    }
    if (TransferGateway* hub = transferGateway()) return hub->shareList()->addDirectory(text, true);
    return false;
}

using DirectoryId = std::pair<dev_t, ino_t>;

// Adds every sub-directory below top (an absolute path as shareDirectory
// made it) whose name does not begin with '.', depth first in listing
// order. A directory reached again (through a link) is added once: the
// walk keeps the device and inode of each. Each directory is resolved at
// most once: a child that is no link is its parent's path and its name,
// which is absolute already; only a link is resolved to where it leads.
void shareSubdirectories(const std::string& top) {
    TransferGateway* hub = transferGateway();
    if (!hub) return;
    std::set<DirectoryId> seen;
    struct stat status;
    if (fs_stat_raw(top.c_str(), &status) == 0) seen.insert({status.st_dev, status.st_ino});
    std::vector<std::string> pending{top};
    bool first = true;
    while (!pending.empty()) {
        std::string parent = std::move(pending.back());
        pending.pop_back();
        if (!first) {
            if (!fs_is_listable(parent.c_str())) {
                if (UIGateway* ui = out()) ui->printRaw(kDirectoryNotValidLine, parent.c_str());
                continue;
            }
            hub->shareList()->addDirectory(parent.c_str(), true);
        }
        first = false;
        DirListing listing;
        if (!fs_list_directory(parent.c_str(), listing, false)) continue;
        std::vector<std::string> children;
        for (const OwnedString& name : listing.dirs) {
            const char* text = name.c_str();
            if (!text || text[0] == '.' || text[0] == 0) continue;
            std::string joined = parent;
            if (joined.empty() || joined.back() != '/') joined += '/';
            joined += text;
            if (fs_stat_raw(joined.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
            if (!seen.insert({status.st_dev, status.st_ino}).second) continue;
            struct stat link;
            if (fs_lstat_raw(joined.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
                OwnedString resolved;
                fs_absolute_path(joined.c_str(), resolved);
                if (resolved.c_str()) joined = resolved.c_str();
            }
            children.push_back(std::move(joined));
        }
        // The first child is taken next.
        pending.insert(pending.end(), std::make_move_iterator(children.rbegin()),
                       std::make_move_iterator(children.rend()));
    }
}

// The transfer settings into the options record, which the interpreter
// saves to pref.met once the command ends.
void keepSettings() {
    if (TransferOptions* options = transferOptions()) options->save();
}

// pral and fral: a value of 0, 1 or 2 (a word that is no number is 0).
bool allowedValue(const char* word, int* value) {
    if (!word) return false;
    *value = numberOf(word);
    return *value >= 0 && *value <= kAllowedMax;
}

void printAllowedUsage(int current) {
    UIGateway* ui = out();
    if (!ui) return;
    ui->print("%s : %d", uiText("current", "current").c_str(), current);
    printText("priMsgStatHelp", "usage   : status must be 0, 1, or 2");
}

// A directory of temp and in: absolute, so that the text names the same
// place whatever the current directory is later.
OwnedString directoryArgument(const char* text) {
    OwnedString absolute;
    fs_absolute_path(text, absolute);
    return absolute;
}

}  // namespace

void a_command(char* line) {
    const char* dir = CommandWords::restOf(line);
    if (!dir) {
        if (UIGateway* ui = out()) ui->printRaw("%s", kInvalidArgumentsRaw);
        return;
    }
    OwnedString absolute;
    if (shareDirectory(dir, absolute))
        if (TransferGateway* hub = transferGateway()) hub->requestRefresh();
}

void a_plus_command(char* line) {
    const char* dir = CommandWords::restOf(line);
    if (!dir) {
        if (UIGateway* ui = out()) ui->printRaw("%s", kInvalidArgumentsRaw);
        return;
    }
    OwnedString absolute;
    shareDirectory(dir, absolute);
    TransferGateway* hub = transferGateway();
    if (!hub || !absolute.c_str() || !fs_is_listable(absolute.c_str())) return;
    shareSubdirectories(absolute.c_str());
    std::vector<OwnedString> paths;
    hub->directoryPaths(paths);
    hub->setShareDirectories(paths);
}

void u_command(char* line) {
    CommandWords words(line);
    int number = numberOf(words.at(1));
    if (number < 1) {
        printText("invalidDirNum", "Invalid Directory number.");
        return;
    }
    TransferGateway* hub = transferGateway();
    if (!hub) return;
    std::vector<OwnedString> paths;
    hub->directoryPaths(paths);
    if (static_cast<size_t>(number) <= paths.size()) paths.erase(paths.begin() + (number - 1));
    hub->setShareDirectories(paths);
}

void refresh_command(char*) {
    if (TransferGateway* hub = transferGateway()) hub->requestRefresh();
}

void vs_command(char*) {
    TransferGateway* hub = transferGateway();
    UIGateway* ui = out();
    if (!hub || !ui) return;
    beginPage();
    std::vector<OwnedString> paths;
    hub->directoryPaths(paths);
    int number = 0;
    for (const OwnedString& path : paths) ui->print("(%d) %s", ++number, printableText(path.c_str()).c_str());
}

void vf_command(char* line) {
    TransferGateway* hub = transferGateway();
    if (!hub) return;
    FileList* files = hub->sharedFiles();
    CommandWords words(line);
    if (!words.at(1)) {
        beginPage();
        Servant::printMetaTable(files);
        return;
    }
    int index = numberOf(words.at(1)) - 1;
    LLsafe* list = files->list();
    list->lock();
    Servant::printMeta(index >= 0 ? static_cast<Meta*>(list->LL::at(index)) : nullptr);
    list->unlock();
}

void temp_command(char* line) {
    TransferOptions* options = transferOptions();
    UIGateway* ui = out();
    if (!options || !ui) return;
    const char* dir = CommandWords::restOf(line);
    if (!dir) {
        OwnedString temp = options->tempDir();
        ui->print("%s", temp.c_str() ? temp.c_str() : "");
        return;
    }
    OwnedString path = directoryArgument(dir);
    if (!option_text_fits("the directory", path.c_str(), kOptionTextMax)) return;
    if (!options->setTemp(path.c_str())) return;
    keepSettings();
    OwnedString temp = options->tempDir();
    ui->print("%s %s", uiText("tempDirNow", "Temp directory is now:").c_str(), temp.c_str());
    if (messageQ) messageQ->post(MSG_LOAD_PARTIALS, new OwnedString(temp));
}

void in_command(char* line) {
    TransferOptions* options = transferOptions();
    UIGateway* ui = out();
    if (!options || !ui) return;
    const char* dir = CommandWords::restOf(line);
    if (!dir) {
        OwnedString incoming = options->incomingDir();
        ui->print("%s", incoming.c_str() ? incoming.c_str() : "");
        return;
    }
    OwnedString path = directoryArgument(dir);
    if (!option_text_fits("the directory", path.c_str(), kOptionTextMax)) return;
    if (!options->setIncoming(path.c_str())) return;
    keepSettings();
    OwnedString incoming = options->incomingDir();
    ui->print("%s %s", uiText("incomingDirNow", "Incoming directory is now:").c_str(), incoming.c_str());
}

void import_command(char* line) {
    TransferOptions* options = transferOptions();
    UIGateway* ui = out();
    if (!options || !ui) return;
    const char* space = line ? std::strchr(line, ' ') : nullptr;
    if (space && space[1] && messageQ) messageQ->post(MSG_LOAD_PARTIALS, new OwnedString(space + 1));
    OwnedString temp = options->tempDir();
    ui->print("%s : %s", uiText("current", "current").c_str(), temp.c_str() ? temp.c_str() : "");
    printText("usageTempDir", "usage   : enter a directory path");
}

void save_command(char* line) {
    TransferOptions* options = transferOptions();
    if (!options) return;
    CommandWords words(line);
    bool off = words.at(1) && words.at(1)[0] == '-';
    options->setSaveCor(off ? 0 : 1);
    keepSettings();
    if (off)
        printText("doNotSaveCorrupted", "do not save corrupted");
    else
        printText("saveCorrupted", "save corrupted");
}

void port_command(char* line) {
    TransferOptions* options = transferOptions();
    UIGateway* ui = out();
    if (!options || !ui) return;
    CommandWords words(line);
    int port = numberOf(words.at(1));
    if (port > kLastPort) {
        if (Servant* servant = consoleServant.load()) servant->printUsage("port");
        return;
    }
    if (port < 1) {
        ui->print("%d", options->doorPort());
        return;
    }
    options->setDoorPort(port);
    keepSettings();
    ui->print("%s %u", uiText("tcpPortChanged", "TCP port changed to").c_str(), static_cast<unsigned>(port));
}

void pral_command(char* line) {
    TransferOptions* options = transferOptions();
    if (!options) return;
    CommandWords words(line);
    int value = 0;
    if (!allowedValue(words.at(1), &value)) {
        printAllowedUsage(options->pmAllow());
        return;
    }
    options->setPmAllow(value);
    keepSettings();
    if (UIGateway* ui = out())
        ui->print("%s %u", uiText("privMsgStatusChange", "Private Message Status changed to").c_str(),
                  static_cast<unsigned>(value));
}

void fral_command(char* line) {
    TransferOptions* options = transferOptions();
    if (!options) return;
    CommandWords words(line);
    int value = 0;
    if (!allowedValue(words.at(1), &value)) {
        printAllowedUsage(options->frAllow());
        return;
    }
    options->setFrAllow(value);
    keepSettings();
    if (UIGateway* ui = out()) ui->print(kFriendViewChanged, static_cast<unsigned>(value));
}

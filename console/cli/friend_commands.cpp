#include "console/cli/friend_commands.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "console/cli/command_output.h"
#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/bus/message_q.h"
#include "core/bus/source_records.h"
#include "core/meta/file_meta.h"
#include "core/meta/user_meta.h"
#include "core/net/ip_text.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "transfer/friends/friend_list.h"
#include "transfer/peer/client_pool.h"
#include "transfer/peer/peer.h"
#include "v4ada/string/text_convert.h"

namespace {

bool isRefetch(const char* word) { return word && std::strcmp(word, "r") == 0; }

// The address of "<word> ip port": false for a missing word or a port
// outside 1-65535.
bool addressOf(const CommandWords& words, UserMeta* out) {
    const char* ip = words.at(1);
    const char* port = words.at(2);
    if (!ip || !port) return false;
    int number = 0;
    if (!portOf(port, &number)) return false;
    out->setIp(ipFromText(ip));
    out->setPort(static_cast<uint16_t>(number));
    return true;
}

void listFriends(FriendList* friends) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    ClientPool* pool = clientPool();
    int number = 0;
    for (UserMeta& user : friends->friendUsers()) {
        ++number;
        if (user.friendState() == kFriendConnected) {
            Peer* peer = pool ? pool->findByUser(&user) : nullptr;
            const char* name = peer ? peer->name() : user.nickname();
            ui->print("(%d)\t%s\t [%s]", number, printableText(name).c_str(), uiText(kConnectedKey, kConnectedDefault).c_str());
        } else {
            OwnedString ip;
            ipToText(user.ip(), ip);
            ui->print("(%d)\t%s\t%d\t [%s]", number, ip.c_str() ? ip.c_str() : "", static_cast<int>(user.port()),
                      uiText(kDisconnectedKey, kDisconnectedDefault).c_str());
        }
    }
}

}  // namespace

void gfr_command(char* line) {
    FriendList* friends = friendList();
    if (!friends) return;
    CommandWords words(line);
    beginPage();
    if (words.count() < 2) {
        listFriends(friends);
        return;
    }
    UserMeta user;
    if (!friends->friendAt(numberOf(words.at(1)), &user)) {
        printWithArgument(kInvalidFriendKey, kInvalidFriendDefault, words.at(1));
        return;
    }
    const char* dirWord = words.at(2);
    if (!dirWord || isRefetch(dirWord)) {
        friends->showDirectories(&user, isRefetch(dirWord));
        return;
    }
    const char* fileWord = words.at(3);
    // Without any directory the friend is asked for them first.
    if (friends->directoryCount(&user) <= 0 && (!fileWord || isRefetch(fileWord))) {
        friends->showFiles(&user, nullptr, isRefetch(fileWord));
        return;
    }
    OwnedString directory;
    if (!friends->directoryAt(&user, numberOf(dirWord), &directory)) {
        printWithArgument(kInvalidDirIndexKey, kInvalidDirIndexDefault, dirWord);
        return;
    }
    if (!fileWord || isRefetch(fileWord)) {
        friends->showFiles(&user, directory.c_str(), isRefetch(fileWord));
        return;
    }
    FileMeta* file = friends->fileCopy(&user, directory.c_str(), numberOf(fileWord));
    if (!file) {
        printWithArgument(kInvalidFileKey, kInvalidFileDefault, fileWord);
        return;
    }
    if (!messageQ) {
        delete file;
        return;
    }
    // The friend listed the file, so it is a source of it from the start.
    auto* source = new AddSourceRecord{user, file->fileHash()};
    messageQ->post(MSG_START_DOWNLOAD, file);
    messageQ->post(MSG_ADD_SOURCE, source);
}

void afr_command(char* line) {
    CommandWords words(line);
    if (!words.at(1)) {
        printWithArgument(kInvalidPeerKey, kInvalidPeerDefault, "");
        return;
    }
    int number = numberOf(words.at(1));
    ClientPool* pool = clientPool();
    FriendList* friends = friendList();
    UserMeta user;
    if (number < 1 || !pool || !friends || !pool->userAt(number - 1, &user)) return;
    friends->addFriend(&user);
    printText(kAddedFriendKey, kAddedFriendDefault);
}

void rfr_command(char* line) {
    CommandWords words(line);
    if (FriendList* friends = friendList()) friends->removeFriend(numberOf(words.at(1)));
}

void message_command(char* line) {
    CommandWords words(line);
    UserMeta user;
    if (!addressOf(words, &user)) {
        printInvalidArguments();
        return;
    }
    if (messageQ) messageQ->post(MSG_PRIVATE_MESSAGE, new UserMeta(user));
}

void ffriend_command(char* line) {
    CommandWords words(line);
    UserMeta user;
    if (!addressOf(words, &user)) {
        printInvalidArguments();
        return;
    }
    if (FriendList* friends = friendList()) friends->addFriend(&user);
    if (UIGateway* ui = currentUI()) ui->print("%s", kForcedFriendText);
}

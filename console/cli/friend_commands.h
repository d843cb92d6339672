// The console words of friends and private messages: "gfr" (list friends,
// view or fetch a friend's directories and files, download one of them),
// "afr" (a connection becomes a friend), "rfr" (remove a friend),
// "message" (open a private-message session with ip:port) and the master
// word "ffriend" (ip:port becomes a friend).
//
// Numbers name 1-based places in the listing that shows them: friends in
// "gfr", connections in the peer pool's list, a friend's directories and
// files as "gfr n" and "gfr n d" list them. Ports are 1 to 65535.
#pragma once

// Texts (string-table keys and English defaults).
constexpr const char* kConnectedKey = "connected";
constexpr const char* kConnectedDefault = "connected";
constexpr const char* kDisconnectedKey = "disCon";
constexpr const char* kDisconnectedDefault = "not connected";
constexpr const char* kInvalidFriendKey = "invalidFriendIndex";
constexpr const char* kInvalidFriendDefault = "Attempting to view invalid friend index:";
constexpr const char* kInvalidDirIndexKey = "invalidDirIndex";
constexpr const char* kInvalidDirIndexDefault = "Attempting to view invalid directory index:";
constexpr const char* kInvalidFileKey = "invalidDownloadFile";
constexpr const char* kInvalidFileDefault = "Attempting to download invalid file:";
constexpr const char* kAddedFriendKey = "addedFriend";
constexpr const char* kAddedFriendDefault = "added friend.";
constexpr const char* kInvalidPeerKey = "invalidPeerIndex";
constexpr const char* kInvalidPeerDefault = "invalid peer index:";
constexpr const char* kForcedFriendText = "forced friend.";

void gfr_command(char* line);
void afr_command(char* line);
void rfr_command(char* line);
void message_command(char* line);
void ffriend_command(char* line);

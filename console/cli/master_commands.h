// The master-mode commands for low-level actions: publishing a location
// for every shared file (fake), closing the peer door (killport), ending
// the process at once (exit), opening a peer connection (fcon), setting
// the own user hash (setID, setID+) and the overlay user interface's "see"
// flag (see).
#pragma once

// Exit status of the exit command.
constexpr int kExitCommandStatus = 1;
constexpr const char* kLocationTag = "loc";
constexpr const char* kLocationFormat = "bcp://%s:%d";

void fake_command(char* line);
void killport_command(char* line);
void exit_command(char* line);
void fcon_command(char* line);
void setid_command(char* line);
void setid_plus_command(char* line);
void see_command(char* line);

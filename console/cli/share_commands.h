// The console commands of the shares and the transfer settings: shared
// directories (a, a+, u, refresh, vs), shared files (vf), the temporary
// and incoming directories (temp, in, import), keeping corrupted downloads
// (save), the door port (port) and who may send messages or view the
// shared files (pral, fral).
//
// temp, in, a, a+ and import take the rest of the line as their directory
// (it may hold blanks). A setting changed here is put into the options
// record at once, so it reaches pref.met when the command ends.
#pragma once

constexpr const char* kInvalidArgumentsRaw = "Invalid arguments.";
constexpr const char* kDirectoryNotValidLine = "directory not valid: %s\n";
constexpr const char* kFriendViewChanged = "Friend File View Status changed to %u";

void a_command(char* line);
void a_plus_command(char* line);
void u_command(char* line);
void refresh_command(char* line);
void vs_command(char* line);
void vf_command(char* line);
void temp_command(char* line);
void in_command(char* line);
void import_command(char* line);
void save_command(char* line);
void port_command(char* line);
void pral_command(char* line);
void fral_command(char* line);

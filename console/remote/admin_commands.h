// The console commands of the remote-control settings.
#pragma once

constexpr const char* kPortWillChangeKey = "portWillChange";
constexpr const char* kPortWillChangeDefault = "Port will change when you restart.";

// aport [port]: a port of 1 to 65535 becomes the administration door's
// port for the next start in remote mode ("Port will change when you
// restart."); anything else, or no word, shows the present port.
void aport_command(char* line);
// pass [name password]: both words become the controller's name and
// password; with either missing both are cleared, which turns remote
// control off. Nothing is printed.
void pass_command(char* line);

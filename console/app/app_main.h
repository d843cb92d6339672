// The application entry: start-up in a fixed order, the command-line
// arguments, the console loop on the main thread until the user quits (or
// input ends, or SIGINT / SIGTERM arrive), then shutdown in a fixed order.
#pragma once

#include <vector>

#include "v4ada/string/owned_string.h"

// The process's arguments, program name included; made by the process
// entry before app_main and destroyed after it.
extern std::vector<OwnedString>* commandLineArgs;
void set_command_line_args(int argc, char** argv);
void clear_command_line_args();

// Runs the whole client; returns the process exit status (0 after a normal
// shutdown, 1 when pref.met could not be saved). A start-up that cannot go
// on (another client holds the base directory, pref.met cannot be read)
// raises an i4_err after undoing what it had done; the process entry
// reports it and exits with 1.
int app_main();

// Handles one command-line argument by its first character: '-' remote
// mode (the remote user interface and its administration door; once per
// process), 'w' wait, '!' no console until a shutdown is requested. True:
// run the argument as a command line.
bool app_argument(const char* text);

// The texts of the start-up and the end of the log.
constexpr const char* kLogStartLine = "Start Vextorine v0.50";
constexpr const char* kLogEndLine = "End Tandrel";
constexpr const char* kClientVersionText = "0.50";
constexpr const char* kLogFileName = "log.txt";
// Locked for the process's life: one client per base directory.
constexpr const char* kBaseLockFileName = "tandrel.lock";

// The console commands that start downloads from what the user found: a
// search result by its number (d) and a file link (dllink, see
// console/cli/file_link.h). A link given as "|f=<URL>" is fetched on a
// worker thread, so the task thread never waits on the network; the link
// it holds is then run like a typed one.
#pragma once

#include <string>

constexpr const char* kInvalidResultText = "Invalid Result number\n";

void d_command(char* line);
void dllink_command(char* line);

// Carries out a dllink line: prints its message, or posts the download
// and then its sources, or offers its server. Any thread.
void runFileLink(const char* line);

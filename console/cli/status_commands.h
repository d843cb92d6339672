// The console commands that show the client's settings and state: the
// options listing (vo), the free space of the download directories
// (space) and the word sup, which is not implemented.
#pragma once

constexpr const char* kNotImplementedText = "Not implemented.";
// Bytes per MiB in the space listing.
constexpr double kBytesPerMiB = 1048576.0;

void vo_command(char* line);
void space_command(char* line);
void sup_command(char* line);

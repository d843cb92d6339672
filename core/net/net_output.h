// The network classes' lines to the user and the log, through the active
// output gateway (currentUI): print (a whole line), printRaw (unchanged
// text) and log (a log-file line).
// Formats are those of the library's printf engine.
#pragma once

void net_print(const char* format, ...);
void net_print_raw(const char* format, ...);
void net_log(const char* format, ...);

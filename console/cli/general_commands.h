// The interpreter's own commands: the help listing "?", the quit question
// "q" and the master switch "master".
#pragma once

void help_command(char* line);
void quit_command(char* line);
void master_command(char* line);

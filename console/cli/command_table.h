// The console's vocabulary: every command record in table order, with its
// list (public or master), its handler and its help text. Help texts are
// looked up in the string table once, when the interpreter is built.
#pragma once

#include "console/cli/servant.h"

struct CommandRecord {
    const char* word;
    bool master;             // the master list, searched in master mode only
    CommandHandler handler;
    const char* helpKey;     // null: not listed by the help command
    const char* helpText;    // the built-in English help
};

// Fills both lists of the interpreter from the table.
void build_command_table(Servant* interpreter);

// What the command handlers share: reading numbers and ports from their
// words, printing looked-up texts and the "Invalid arguments" line, and
// arming the pager for a listing. Output goes through currentUI.
#pragma once

class CommandWords;

// The leading decimal number of a word, as the C library's integer
// conversion reads it (no digits, or no word: 0), held within int.
int numberOf(const char* word);
// A port of 1 to 65535 read as numberOf; false for any other value.
bool portOf(const char* word, int* port);
// "<word> ip port" with a port of 1 to 65535: when a word is missing or
// the port is not one, prints the "Invalid arguments" line and is false.
bool addressWords(const CommandWords& words, const char** ip, int* port);
// The skin's text of the key (the default without one) as a whole line.
void printText(const char* key, const char* fallback);
// "<text> <argument>"
void printWithArgument(const char* key, const char* fallback, const char* argument);
// The string-table entry STRINGS_INVALID_ARGUMENTS as a whole line.
void printInvalidArguments();
// The lines printed from now on are paged after the command.
void beginPage();

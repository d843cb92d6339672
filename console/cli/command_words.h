// CommandWords: the words of a command line, split with the interpreter's
// delimiters (space, comma, tab, line feed, double quote). The first word
// is the command word. Splitting keeps no state outside the object, so
// any thread may split lines at any time.
#pragma once

#include <string>
#include <vector>

class CommandWords {
public:
    static constexpr const char* kDelimiters = " ,\t\n\"";

    explicit CommandWords(const char* line);

    int count() const { return static_cast<int>(words_.size()); }
    // Word i (0 is the command word), or null past the last word.
    const char* at(int index) const;

    // The rest of the line after the one delimiter that follows the
    // command word, unchanged (it may hold blanks); null when the word
    // ends the line or only that delimiter follows it.
    static const char* restOf(const char* line);

private:
    std::vector<std::string> words_;
};

#include "console/cli/command_words.h"

#include <cstring>

CommandWords::CommandWords(const char* line) {
    if (!line) return;
    const char* p = line;
    while (*p) {
        p += strspn(p, kDelimiters);
        size_t n = strcspn(p, kDelimiters);
        if (n == 0) break;
        words_.emplace_back(p, n);
        p += n;
    }
}

const char* CommandWords::at(int index) const {
    if (index < 0 || index >= count()) return nullptr;
    return words_[static_cast<size_t>(index)].c_str();
}

const char* CommandWords::restOf(const char* line) {
    if (!line) return nullptr;
    const char* word = line + strspn(line, kDelimiters);
    const char* end = word + strcspn(word, kDelimiters);
    if (*end == 0 || end[1] == 0) return nullptr;
    return end + 1;
}

#include "overlay/index/file_keywords.h"

#include <cstring>

#include "v4ada/string/cstring.h"

std::vector<std::string> fileKeywords(const char* name, int limit) {
    std::vector<std::string> keywords;
    if (name == nullptr || limit <= 0) return keywords;
    size_t length = std::strlen(name);
    std::string ext;
    if (length >= 5 && name[length - 4] == '.') ext.assign(name + length - 3);
    char token[kKeywordTokenMax + 1];
    int start = 0;
    for (;;) {
        int next = i4_strtok(name, kKeywordDelimiters, start, token, sizeof token);
        if (next == 0) break;
        std::string word(token);
        bool isThe = word.size() == 3 && i4_stricmp(word.c_str(), "the") == 0;
        if (word.size() > 2 && word != ext && !isThe) {
            for (char& c : word)
                if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            keywords.push_back(word);
            if (static_cast<int>(keywords.size()) >= limit) break;
        }
        if (next < 0) break;
        start = next;
    }
    return keywords;
}

// The command table: every public word in its place, the help texts the
// help command lists, and the master words in their order.
#include "console/cli/command_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/cli/flock_clc.h"

namespace {

std::vector<std::string> wordsOf(LL& list, int* helped = nullptr) {
    std::vector<std::string> words;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&list, &cursor)) {
        auto* command = static_cast<Command*>(element);
        words.emplace_back(command->name.c_str());
        if (helped && !command->help.isEmpty()) ++*helped;
    }
    return words;
}

TEST(CommandTable, PublicWordsInTheirPlacesAndMasterWordsInOrder) {
    FlockCLC table(-1);
    int helped = 0;
    EXPECT_EQ(wordsOf(table.publicCommands(), &helped),
              (std::vector<std::string>{"a",     "a+",   "adds",  "afr",   "aport",   "boot",  "d",     "dld",
                                        "dllink", "dumax", "echo",  "fral",  "g",       "getloc", "gfr",   "import",
                                        "in",    "line", "lines", "m",     "master",  "mcon",  "message", "name",
                                        "pass",  "port", "pral",  "q",     "refresh", "retest", "rfr",  "s",
                                        "save",  "space", "sup",  "temp",  "u",       "uport", "vbud",  "vc",
                                        "vd",    "verbose", "vf", "vo",    "vp",      "vpart", "vq",    "vs",
                                        "vr",    "vs",   "vso",   "vu",    "?"}));
    // 45 words with a help text, vs twice.
    EXPECT_EQ(helped, 46);
    // These master words come in this order; the table has more master words
    // between them, which this check does not pin.
    std::vector<std::string> master = wordsOf(table.masterCommands());
    const std::vector<std::string> order = {"dir",     "testp", "fake", "vcl",   "fcon",    "killport", "exit",
                                            "ffriend", "setID", "setID+", "ping", "vg",      "check",    "nearest",
                                            "see",     "kick",  "delay", "reset"};
    size_t at = 0;
    for (const std::string& word : master)
        if (at < order.size() && word == order[at]) at++;
    EXPECT_EQ(at, order.size()) << "missing or out of order: " << (at < order.size() ? order[at] : "");
}

}  // namespace

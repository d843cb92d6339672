#include "console/cli/command_output.h"

#include <climits>
#include <cstdlib>

#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"

namespace {
constexpr int kLastPortNumber = 65535;
}  // namespace

int numberOf(const char* word) {
    if (!word) return 0;
    long value = std::strtol(word, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool portOf(const char* word, int* port) {
    int number = numberOf(word);
    if (number < 1 || number > kLastPortNumber) return false;
    *port = number;
    return true;
}

bool addressWords(const CommandWords& words, const char** ip, int* port) {
    *ip = words.at(1);
    if (*ip != nullptr && words.at(2) != nullptr && portOf(words.at(2), port)) return true;
    printInvalidArguments();
    return false;
}

void printText(const char* key, const char* fallback) {
    if (UIGateway* ui = currentUI()) ui->print("%s", uiText(key, fallback).c_str());
}

void printWithArgument(const char* key, const char* fallback, const char* argument) {
    if (UIGateway* ui = currentUI()) ui->print("%s %s", uiText(key, fallback).c_str(), argument ? argument : "");
}

void printInvalidArguments() {
    if (UIGateway* ui = currentUI()) ui->print("%s", uiString(STRINGS_INVALID_ARGUMENTS));
}

void beginPage() {
    if (Servant* servant = consoleServant.load()) servant->pager()->begin();
}

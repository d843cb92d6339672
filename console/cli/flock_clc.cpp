#include "console/cli/flock_clc.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "console/cli/command_table.h"
#include "console/cli/command_words.h"
#include "core/bus/message_q.h"
#include "core/meta/special_tags.h"
#include "core/search/search_node.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "overlay/index/service.h"
#include "overlay/index/service_search.h"

std::atomic<FlockCLC*> consoleClient{nullptr};

namespace {

constexpr const char* kLineTooLong = "Line too long (more than %d characters): not run.";
// Words of a search line looked at after the command word.
constexpr int kSearchWords = 4;
// Shorter words are neither keywords nor terms.
constexpr size_t kSearchWordMin = 3;

}  // namespace

FlockCLC::FlockCLC(int inputFd) : Servant(inputFd) { build_command_table(this); }

FlockCLC::~FlockCLC() { clearResults(); }

void FlockCLC::readCommand(MessageQ* bus) {
    fputs(prompt(), stdout);
    fflush(stdout);

    std::string line;
    switch (input()->readLine(line, &Servant::keepWaiting, this)) {
        case ConsoleLineReader::Result::kStopped:
            // A shutdown was requested while the prompt waited.
            fputs("\n", stdout);
            fflush(stdout);
            return;
        case ConsoleLineReader::Result::kEnd:
            // Nothing more can be typed: shut down in order.
            fputs("\n", stdout);
            fflush(stdout);
            requestStop();
            return;
        case ConsoleLineReader::Result::kTooLong:
            if (UIGateway* ui = currentUI())
                ui->print(kLineTooLong, static_cast<int>(ConsoleLineReader::kMaxLine));
            return;
        case ConsoleLineReader::Result::kLine:
            break;
    }

    if (line == "q") {
        askQuit(this);
        return;
    }
    runAndWait(bus, line.c_str(), true);
    fflush(stdout);
    showPages();
    fflush(stdout);
}

void FlockCLC::parseSearch(const char* line) {
    CommandWords words(line);
    const char* w[kSearchWords];
    for (int i = 0; i < kSearchWords; i++) w[i] = words.at(i + 1);
    const char* type = nullptr;
    for (const char* word : w)
        if (word != nullptr && word[0] == '-') type = word + 1;
    if (w[0] == nullptr || std::strlen(w[0]) < kSearchWordMin) {
        if (UIGateway* ui = currentUI())
            ui->print("%s", uiText("searchTooShort", "Search string must be longer than 2 characters.").c_str());
        return;
    }
    auto search = new ServiceSearch(w[0]);
    for (int i = 1; i < kSearchWords; i++)
        if (w[i] != nullptr && std::strlen(w[i]) >= kSearchWordMin) search->add(new SN_FindStr(w[i]), kSearchAnd);
    if (type != nullptr) search->add(new SN_StrTagCompare(specialCodeName(ST_TYPE), type), kSearchAnd);
    if (messageQ != nullptr)
        messageQ->post(MSG_SEARCH, search);
    else
        delete search;
}

std::string FlockCLC::resultKey(const Service& record) {
    std::string key(reinterpret_cast<const char*>(record.serviceId.bytes()), kUniqueIdSize);
    key.append(reinterpret_cast<const char*>(record.descId.bytes()), kUniqueIdSize);
    return key;
}

bool FlockCLC::addResult(Service* result) {
    if (result == nullptr) return false;
    SysMutexGuard guard(&resultLock_);
    if (static_cast<int>(resultKeys_.size()) >= kMostResults || !resultKeys_.insert(resultKey(*result)).second) {
        delete result;
        return false;
    }
    results_.add(result);
    return true;
}

bool FlockCLC::holdsResult(const Service& record) {
    SysMutexGuard guard(&resultLock_);
    return resultKeys_.count(resultKey(record)) != 0;
}

int FlockCLC::resultCount() {
    SysMutexGuard guard(&resultLock_);
    return static_cast<int>(resultKeys_.size());
}

void FlockCLC::clearResults() {
    SysMutexGuard guard(&resultLock_);
    results_.clear();
    resultKeys_.clear();
}

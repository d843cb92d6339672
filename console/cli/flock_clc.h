// FlockCLC: the client's command interpreter with its command table, the
// console step that reads, runs and pages one typed line, and the list of
// the overlay search results, numbered from 1 in the order received.
//
// The result list is filled by the overlay's results and emptied by the
// search command, both on the task thread; its changes are made under the
// interpreter's result mutex.
#pragma once

#include <atomic>
#include <string>
#include <unordered_set>

#include "console/cli/servant.h"
#include "core/meta/meta_list.h"
#include "overlay/index/service_search.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Service;

class FlockCLC : public Servant {
public:
    // Builds the command table (help texts looked up now).
    explicit FlockCLC(int inputFd = 0);
    ~FlockCLC() override;

    // One console step on the console thread: the prompt, one whole line,
    // then the line runs on the task thread and its collected output is
    // paged. The typed line "q" asks its question here. End of input
    // requests the shutdown; a shutdown requested meanwhile ends the step.
    void readCommand(MessageQ* bus);

    // The keyword search of the command s: the first word after the
    // command word is the keyword, each of the next three longer than two
    // characters must be found too, a word beginning with '-' names the
    // type wanted (the last one counts). Posts MSG_SEARCH; a keyword of two
    // characters or fewer prints "searchTooShort" instead.
    void parseSearch(const char* line);
    // Appends the result (taken over) under the result mutex, unless the
    // list holds one with both its identifiers already or is full
    // (kMostResults, the most one search asks for); a refused result is
    // deleted. False when refused.
    bool addResult(Service* result);
    // Deletes every result under the result mutex.
    void clearResults();
    MetaList* results() { return &results_; }
    // True when an entry of the list has both identifiers of the record.
    bool holdsResult(const Service& record);
    int resultCount();

    static constexpr int kMostResults = kServiceSearchDefaultMax;

private:
    static std::string resultKey(const Service& record);

    SysMutex resultLock_;
    MetaList results_;
    // The identifiers of every entry, so that a flood of answers is not
    // checked against the whole list each.
    std::unordered_set<std::string> resultKeys_ TS_GUARDED_BY(resultLock_);
};

// The same interpreter as consoleServant, typed for the client's own parts.
extern std::atomic<FlockCLC*> consoleClient;

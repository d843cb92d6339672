// Servant: the console's command interpreter. It keeps the public and the
// master command lists, finds a line's command word by exact match and runs
// its handler, and offers the shared output operations of the commands.
//
// Lines reach it in three ways: the console posts each typed line on the
// message bus and waits for that very line to finish (runAndWait); the
// command-line arguments do the same; the remote controller posts plain
// lines (MSG_COMMAND_LINE with an OwnedString). All of them run on the task
// thread, one at a time. Only a console line may fill the pager.
#pragma once

#include <atomic>
#include <condition_variable>
#include <vector>

#include "console/cli/console_line_reader.h"
#include "console/ui/page_viewer.h"
#include "core/bus/message.h"
#include "v4ada/containers/ll.h"
#include "v4ada/string/owned_string.h"
#include "v4ada/threads/linux/sys_mutex.h"

class Meta;
class MetaList;
class MessageQ;
class UIGateway;

// A command handler takes the whole line as a writable copy and reaches
// the interpreter through consoleServant.
using CommandHandler = void (*)(char* line);

class Command {
public:
    Command(const char* name, CommandHandler handler, const char* help);

    OwnedString name;
    CommandHandler handler;
    OwnedString help;  // empty: not listed by the help command
};

class Servant : public MessageHandler {
public:
    // The console reads from inputFd (standard input in the program).
    explicit Servant(int inputFd = 0);
    Servant(const Servant&) = delete;
    Servant& operator=(const Servant&) = delete;
    virtual ~Servant();

    // MSG_COMMAND_LINE: runs the line and deletes it; other codes are
    // ignored. Task thread.
    void handle(Message* message) override;
    virtual void unknownCommand(const char* line);
    // Registers for MSG_COMMAND_LINE.
    virtual void subscribe(MessageQ* bus);

    // Finds and runs one command on the calling thread. An i4_err raised by
    // the handler is reported and ends only that command. Settings the
    // command changed are saved to pref.met before it returns.
    static void execute(Servant* interpreter, const char* line);
    // Posts the line on the bus and returns once that line has run. A
    // console line fills the pager; other lines print directly.
    void runAndWait(MessageQ* bus, const char* line, bool fromConsole);

    // Prints "<question>?(y or n): " and reads one whole line; true when
    // it begins with 'y' or 'Y'. End of input requests the shutdown and
    // answers no.
    static bool askYesNo(Servant* interpreter, const char* question);
    static void printHelp(Servant* interpreter);
    // Prints the help text of a public word (its usage line first).
    void printUsage(const char* word);
    // A table of the records: a header of the first record's tag display
    // names, then one numbered line per record. "None." for an empty list.
    static void printMetaTable(MetaList* list);
    // The detail view of one record: one line per tag.
    static void printMeta(Meta* record);
    // Runs the quit question.
    static void askQuit(Servant* interpreter);

    void addPublic(const char* name, CommandHandler handler, const char* help);
    void addMaster(const char* name, CommandHandler handler, const char* help);
    LL& publicCommands() { return publicCommands_; }
    LL& masterCommands() { return masterCommands_; }

    bool keepRunning() const { return keepRunning_.load(); }
    // Clears keepRunning for good; safe from a signal handler.
    void requestStop() { keepRunning_.store(false); }
    bool masterMode() const { return masterMode_.load(); }
    void setMasterMode(bool on) { masterMode_.store(on); }

    PageViewer* pager() { return &pager_; }
    // The console's own gateway, which shows the pages: the current one
    // may mirror every line elsewhere (remote mode). Null: the current.
    void setConsoleUI(UIGateway* ui) { consoleUI_.store(ui); }
    ConsoleLineReader* input() { return &input_; }
    const char* prompt() const { return prompt_.c_str(); }
    // Shows what a console listing collected, paging on a terminal.
    void showPages();

    // The reader's wait test: go on while keepRunning is set.
    static bool keepWaiting(void* interpreter);

private:
    struct Request {
        OwnedString* line;
        bool fromConsole;
        bool done;
    };
    class Keys;

    // The pending request of this line object, removed from the list; null
    // for a line nobody waits for.
    Request* takeRequest(const OwnedString* line);
    void finish(Request* request);
    static Command* find(LL& list, const char* word);

    SysMutex requestLock_;
    std::condition_variable_any requestDone_;
    std::vector<Request*> requests_ TS_GUARDED_BY(requestLock_);

    LL publicCommands_;
    LL masterCommands_;
    std::atomic<bool> masterMode_{false};
    OwnedString prompt_;
    std::atomic<bool> keepRunning_{true};
    PageViewer pager_;
    ConsoleLineReader input_;
    std::atomic<UIGateway*> consoleUI_{nullptr};
};

// The one interpreter of the process; null outside start-up .. shutdown.
extern std::atomic<Servant*> consoleServant;

#include "console/cli/servant.h"

#include <chrono>
#include <cstring>
#include <string>
#include <unistd.h>

#include "console/cli/command_words.h"
#include "core/bus/message_q.h"
#include "core/meta/meta.h"
#include "core/meta/meta_list.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"
#include "v4ada/error/error.h"
#include "v4ada/string/text_convert.h"

std::atomic<Servant*> consoleServant{nullptr};

namespace {

constexpr const char* kPrompt = "> ";
constexpr const char* kYesNoFormat = "%s?(y or n): ";
constexpr const char* kHelpKey = "helpCommand";
constexpr const char* kHelpDefault = "Commands: (optional arguments)";
constexpr const char* kQuitKey = "areYouSureExit";
constexpr const char* kQuitDefault = "Are you sure you want to exit";
constexpr const char* kMetaInfoKey = "metaInfo";
constexpr const char* kMetaInfoDefault = "Meta Information:";
// Columns of a record table, and bytes of one value text.
constexpr int kMaxColumns = 254;
constexpr int kValueTextBuffer = 128;
// How often a waiting console looks at its request again.
constexpr auto kRequestPoll = std::chrono::milliseconds(100);

UIGateway* out() { return currentUI(); }

const char* none_text() {
    const XMLStringTable* table = XMLStringTable::instance();
    const char* text = table ? table->get(STRINGS_NONE) : nullptr;
    return text ? text : "None.";
}

}  // namespace

Command::Command(const char* commandName, CommandHandler commandHandler, const char* helpText)
    : name(commandName), handler(commandHandler), help(helpText ? helpText : "") {}

// The pager's keys come from the console's own reader.
class Servant::Keys : public PageViewer::KeySource {
public:
    explicit Keys(Servant* servant) : servant_(servant) {}
    int readKey() override { return servant_->input_.readKey(&Servant::keepWaiting, servant_); }
    // Pages only when a person both reads the output and types the keys.
    bool isTerminal() override { return servant_->input_.isTerminal() && isatty(STDOUT_FILENO) == 1; }

private:
    Servant* servant_;
};

Servant::Servant(int inputFd) : prompt_(kPrompt), input_(inputFd) {}

Servant::~Servant() {
    for (LL* list : {&publicCommands_, &masterCommands_}) {
        LLNode* cursor = nullptr;
        while (void* element = LL::walk(list, &cursor)) delete static_cast<Command*>(element);
        list->clear();
    }
}

void Servant::addPublic(const char* name, CommandHandler handler, const char* help) {
    publicCommands_.append(new Command(name, handler, help));
}

void Servant::addMaster(const char* name, CommandHandler handler, const char* help) {
    masterCommands_.append(new Command(name, handler, help));
}

bool Servant::keepWaiting(void* interpreter) {
    return static_cast<Servant*>(interpreter)->keepRunning();
}

void Servant::subscribe(MessageQ* bus) {
    if (bus) bus->setHandler(this, MSG_COMMAND_LINE);
}

void Servant::unknownCommand(const char* line) {
    (void)line;
    UIGateway* ui = out();
    if (!ui) return;
    const XMLStringTable* table = XMLStringTable::instance();
    const char* text = table ? table->get(STRINGS_UNKNOWN_COMMAND) : nullptr;
    ui->print("%s\n", text ? text : "Unrecognized command. type ? for help");
}

Command* Servant::find(LL& list, const char* word) {
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&list, &cursor)) {
        Command* command = static_cast<Command*>(element);
        if (strcmp(command->name.c_str(), word) == 0) return command;
    }
    return nullptr;
}

void Servant::execute(Servant* interpreter, const char* line) {
    if (!interpreter || !line) return;
    // The handler gets its own writable copy; the words are split apart
    // from it.
    std::string copy(line);
    CommandWords words(line);
    const char* word = words.at(0);
    Command* command = nullptr;
    if (word) {
        if (interpreter->masterMode()) command = find(interpreter->masterCommands_, word);
        if (!command) command = find(interpreter->publicCommands_, word);
    }
    try {
        if (command) {
            command->handler(copy.data());
        } else {
            interpreter->unknownCommand(copy.c_str());
        }
    } catch (const i4_err& error) {
        if (UIGateway* ui = out()) ui->print("%s", error.message());
    }
    // What the command changed is on disk before the command counts as
    // done: a crash or kill afterwards loses nothing it confirmed.
    if (CoreOptions* options = coreOptions()) options->saveIfChanged();
}

Servant::Request* Servant::takeRequest(const OwnedString* line) {
    SysMutexGuard guard(&requestLock_);
    for (size_t i = 0; i < requests_.size(); ++i) {
        if (requests_[i]->line == line) {
            Request* request = requests_[i];
            requests_.erase(requests_.begin() + static_cast<long>(i));
            return request;
        }
    }
    return nullptr;
}

void Servant::finish(Request* request) {
    SysMutexGuard guard(&requestLock_);
    request->done = true;
    requestDone_.notify_all();
}

void Servant::handle(Message* message) {
    if (!message || message->code != MSG_COMMAND_LINE) return;
    OwnedString* line = static_cast<OwnedString*>(message->data);
    if (!line) return;
    Request* request = takeRequest(line);
    bool console = request && request->fromConsole;
    if (console) pager_.setCollecting(true);
    execute(this, line->c_str() ? line->c_str() : "");
    if (console) pager_.setCollecting(false);
    delete line;
    if (request) finish(request);
}

void Servant::runAndWait(MessageQ* bus, const char* line, bool fromConsole) {
    if (!bus || !line) return;
    Request request{new OwnedString(line), fromConsole, false};
    {
        SysMutexGuard guard(&requestLock_);
        requests_.push_back(&request);
    }
    bus->post(MSG_COMMAND_LINE, request.line);
    SysMutexGuard guard(&requestLock_);
    while (!request.done) requestDone_.wait_for(requestLock_, kRequestPoll);
}

bool Servant::askYesNo(Servant* interpreter, const char* question) {
    if (!interpreter) return false;
    if (UIGateway* ui = out()) ui->printFlush(kYesNoFormat, question ? question : "");
    std::string answer;
    ConsoleLineReader::Result result =
        interpreter->input_.readLine(answer, &Servant::keepWaiting, interpreter);
    if (result == ConsoleLineReader::Result::kEnd || result == ConsoleLineReader::Result::kStopped) {
        // No answer came: end the question's line.
        if (UIGateway* ui = out()) ui->printFlush("\n");
    }
    if (result == ConsoleLineReader::Result::kEnd) {
        // Nobody can answer any more: shut down in order.
        interpreter->requestStop();
        return false;
    }
    if (result != ConsoleLineReader::Result::kLine) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void Servant::askQuit(Servant* interpreter) {
    OwnedString question(kQuitDefault);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(kQuitKey, question);
    if (askYesNo(interpreter, question.c_str())) interpreter->requestStop();
}

void Servant::printHelp(Servant* interpreter) {
    UIGateway* ui = out();
    if (!interpreter || !ui) return;
    OwnedString heading(kHelpDefault);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(kHelpKey, heading);
    ui->print("%s", heading.c_str());
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(&interpreter->publicCommands_, &cursor)) {
        Command* command = static_cast<Command*>(element);
        if (!command->help.isEmpty()) ui->print("%s", command->help.c_str());
    }
}

void Servant::printUsage(const char* word) {
    UIGateway* ui = out();
    if (!ui || !word) return;
    Command* command = find(publicCommands_, word);
    if (command && !command->help.isEmpty()) ui->print("%s", command->help.c_str());
}

void Servant::showPages() {
    Keys keys(this);
    UIGateway* console = consoleUI_.load();
    pager_.show(console ? console : out(), &keys);
}

void Servant::printMetaTable(MetaList* list) {
    UIGateway* ui = out();
    if (!list || !ui) return;
    LLsafe* records = list->list();
    records->lock();
    Meta* first = static_cast<Meta*>(records->first());
    if (!first) {
        records->unlock();
        ui->print("%s", none_text());
        return;
    }
    // Names and values come from disk or peers: shown with their control
    // bytes escaped. The tags are walked once, however many there are.
    std::string header;
    std::vector<std::string> columns;
    first->sweepTags([&](MetaTag* tag) {
        const char* shown = tag->displayName();
        if (static_cast<int>(columns.size()) >= kMaxColumns || !shown || !*shown || !tag->name().c_str()) return false;
        header += printableText(shown);
        header += '\t';
        columns.emplace_back(tag->name().c_str());
        return false;
    });
    ui->print("%s", header.c_str());

    int k = 0;
    LLNode* cursor = nullptr;
    while (void* element = LL::walk(records, &cursor)) {
        Meta* record = static_cast<Meta*>(element);
        std::string row = "(" + std::to_string(++k) + ") ";
        for (const std::string& key : columns) {
            char value[kValueTextBuffer];
            record->valueText(key.c_str(), value, sizeof value);
            row += printableText(value);
            row += '\t';
        }
        ui->print("%s", row.c_str());
    }
    records->unlock();
}

void Servant::printMeta(Meta* record) {
    UIGateway* ui = out();
    if (!ui) return;
    if (!record) {
        ui->print("%s", none_text());
        return;
    }
    OwnedString heading(kMetaInfoDefault);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(kMetaInfoKey, heading);
    ui->print("%s", heading.c_str());
    record->sweepTags([ui](MetaTag* tag) {
        char value[kValueTextBuffer];
        value[0] = 0;
        const char* text = tag->valueText(value, sizeof value);
        ui->print("%s:\t\t%s", printableText(tag->displayName()).c_str(), printableText(text).c_str());
        return false;
    });
}

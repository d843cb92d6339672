#include "console/cli/general_commands.h"

#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/ui/ui_gateway.h"

namespace {

constexpr const char* kMasterOn = "Master mode on.";
constexpr const char* kMasterOff = "Master mode off.";

}  // namespace

void help_command(char* line) {
    (void)line;
    Servant* servant = consoleServant.load();
    if (!servant) return;
    servant->pager()->begin();
    Servant::printHelp(servant);
}

// Runs on the task thread: a "q" typed alone at the console asks its
// question on the console thread (FlockCLC::readCommand), so whatever
// reaches this handler (an argument, a line such as "q ", a controller)
// requests the orderly shutdown without a question. Only the console
// thread reads standard input.
void quit_command(char* line) {
    (void)line;
    if (Servant* servant = consoleServant.load()) servant->requestStop();
}

void master_command(char* line) {
    Servant* servant = consoleServant.load();
    if (!servant) return;
    CommandWords words(line);
    const char* option = words.at(1);
    bool off = option && option[0] == '-';
    servant->setMasterMode(!off);
    if (UIGateway* ui = currentUI()) ui->print("%s", off ? kMasterOff : kMasterOn);
}

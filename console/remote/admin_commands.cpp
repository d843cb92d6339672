#include "console/remote/admin_commands.h"

#include "console/cli/command_words.h"
#include "console/cli/option_commands.h"
#include "console/remote/admin_settings.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"

void aport_command(char* line) {
    AdminSettings* settings = adminSettings();
    UIGateway* ui = currentUI();
    if (!settings || !ui) return;
    CommandWords words(line);
    int port = 0;
    if (words.at(1) && parse_whole_number(words.at(1), &port) && settings->setControlPort(port)) {
        // The options record follows at once, so a save of pref.met keeps it.
        settings->save(coreOptions());
        OwnedString text(kPortWillChangeDefault);
        if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(kPortWillChangeKey, text);
        ui->print("%s", text.c_str());
        return;
    }
    ui->print("%d", settings->controlPort());
}

void pass_command(char* line) {
    AdminSettings* settings = adminSettings();
    if (!settings) return;
    CommandWords words(line);
    if (words.at(1) && words.at(2)) {
        // pref.met keeps kOptionTextMax characters of each: a longer text
        // would lock the controller out after the next start.
        if (!option_text_fits("the admin name", words.at(1), kOptionTextMax) ||
            !option_text_fits("the password", words.at(2), kOptionTextMax))
            return;
        settings->setLogin(words.at(1), words.at(2));
    } else {
        settings->setLogin("", "");
    }
    settings->save(coreOptions());
}

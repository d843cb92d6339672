#include "console/cli/option_commands.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console/cli/command_words.h"
#include "console/cli/servant.h"
#include "core/options/core_options.h"
#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"

namespace {

// A text of the string table by key, with its built-in English default.
OwnedString text(const char* key, const char* fallback) {
    OwnedString value(fallback);
    if (const XMLStringTable* table = XMLStringTable::instance()) table->lookup(key, value);
    return value;
}

void say(const char* key, const char* fallback) {
    if (UIGateway* ui = currentUI()) ui->print("%s", text(key, fallback).c_str());
}

void done() { say("done", "Done."); }

void usage(const char* word) {
    Servant* servant = consoleServant.load();
    if (servant) servant->printUsage(word);
}

}  // namespace

bool option_text_fits(const char* what, const char* text, size_t max) {
    if (!text || std::strlen(text) <= max) return true;
    if (UIGateway* ui = currentUI())
        ui->print("Too long: %s takes at most %d characters; nothing changed.", what, static_cast<int>(max));
    return false;
}

bool parse_whole_number(const char* text, int* out) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text || *end != 0 || errno == ERANGE) return false;
    if (value < INT_MIN || value > INT_MAX) return false;
    *out = static_cast<int>(value);
    return true;
}

bool parse_amount(const char* text, double* out) {
    if (!text || !*text) return false;
    char* end = nullptr;
    double value = strtod(text, &end);
    // The options keep single precision: a value beyond it would become
    // infinite there.
    if (end == text || *end != 0 || !std::isfinite(value) || value < 0 || value > FLT_MAX) return false;
    *out = value;
    return true;
}

void mcon_command(char* line) {
    CoreOptions* options = coreOptions();
    UIGateway* ui = currentUI();
    if (!options || !ui) return;
    CommandWords words(line);
    const char* word = words.at(1);
    if (!word) {
        ui->print("%d", options->maxConnections());
        return;
    }
    int n = 0;
    if (!parse_whole_number(word, &n) || n < 1) {
        usage("mcon");
        return;
    }
    options->setMaxConnections(n);
    done();
}

void name_command(char* line) {
    CoreOptions* options = coreOptions();
    UIGateway* ui = currentUI();
    if (!options || !ui || !line) return;
    const char* space = strchr(line, ' ');
    if (!space) {
        OwnedString nickname = options->nickname();
        ui->print("%s", nickname.c_str() ? nickname.c_str() : "");
        return;
    }
    // The nickname keeps kNicknameMax characters: a longer one is refused
    // rather than cut.
    if (!option_text_fits("the name", space + 1, kNicknameMax)) return;
    options->setNickname(space + 1);
    say("ok", "ok.");
}

void dumax_command(char* line) {
    CoreOptions* options = coreOptions();
    UIGateway* ui = currentUI();
    if (!options || !ui) return;
    CommandWords words(line);
    if (words.count() < 3) {
        ui->print("d/u: %0.2f/%0.2f", options->downloadLimit(), options->uploadLimit());
        return;
    }
    double down = 0;
    double up = 0;
    if (!parse_amount(words.at(1), &down) || !parse_amount(words.at(2), &up)) {
        usage("dumax");
        return;
    }
    // The upload limit first: it bounds the download limit.
    options->setUploadLimit(static_cast<float>(up));
    options->setDownloadLimit(static_cast<float>(down));
    done();
}

void verbose_command(char* line) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    CommandWords words(line);
    const char* word = words.at(1);
    if (word && word[0] == '-') {
        ui->setVerbose(false);
        say("verboseOff", "Verbose mode off.");
    } else {
        ui->setVerbose(true);
        say("verboseOn", "Verbose mode on.");
    }
}

void line_command(char* line) {
    CoreOptions* options = coreOptions();
    UIGateway* ui = currentUI();
    if (!options || !ui) return;
    CommandWords words(line);
    const char* word = words.at(1);
    if (!word) {
        // The integer part, held within int.
        double speed = options->lineSpeedDown();
        int shown = speed >= static_cast<double>(INT_MAX) ? INT_MAX : speed > 0 ? static_cast<int>(speed) : 0;
        ui->print("%d", shown);
        return;
    }
    double speed = 0;
    if (!parse_amount(word, &speed)) {
        usage("line");
        return;
    }
    options->setLineSpeedDown(static_cast<float>(speed));
    done();
}

void lines_command(char* line) {
    Servant* servant = consoleServant.load();
    UIGateway* ui = currentUI();
    if (!servant || !ui) return;
    CommandWords words(line);
    const char* word = words.at(1);
    if (!word) {
        ui->print("%d", servant->pager()->linesPerPage());
        return;
    }
    int n = 0;
    if (!parse_whole_number(word, &n) || n < 1) {
        usage("lines");
        return;
    }
    servant->pager()->setLinesPerPage(n);
    if (CoreOptions* options = coreOptions()) options->setScreenLines(n);
    say("set", "set.");
}

void echo_command(char* line) {
    UIGateway* ui = currentUI();
    if (!ui || !line) return;
    if (strlen(line) <= static_cast<size_t>(kEchoTextOffset)) return;
    ui->print("%s", line + kEchoTextOffset);
}

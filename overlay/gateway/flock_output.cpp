#include "overlay/gateway/flock_output.h"

#include <cstdarg>

#include "core/strings/string_table.h"
#include "core/ui/ui_gateway.h"

namespace {
using Writer = void (UIGateway::*)(const char*, va_list);

void emit(Writer writer, const char* format, va_list args) {
    UIGateway* ui = currentUI();
    if (ui != nullptr) (ui->*writer)(format, args);
}
}  // namespace

void flock_print(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(&UIGateway::vprint, format, args);
    va_end(args);
}

void flock_print_raw(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(&UIGateway::vprintRaw, format, args);
    va_end(args);
}

void flock_print_flush(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(&UIGateway::vprintFlush, format, args);
    va_end(args);
}

void flock_debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(&UIGateway::vdebug, format, args);
    va_end(args);
}

void flock_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit(&UIGateway::vlog, format, args);
    va_end(args);
}

OwnedString flock_text(const char* key, const char* builtin) {
    OwnedString text(builtin);
    XMLStringTable* table = XMLStringTable::instance();
    if (table != nullptr) table->lookup(key, text);
    return text;
}

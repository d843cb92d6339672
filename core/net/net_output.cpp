#include "core/net/net_output.h"

#include <cstdarg>

#include "core/ui/ui_gateway.h"

// Lines go to the active output gateway; without one they are dropped.

void net_print(const char* format, ...) {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    va_list args;
    va_start(args, format);
    ui->vprint(format, args);
    va_end(args);
}

void net_print_raw(const char* format, ...) {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    va_list args;
    va_start(args, format);
    ui->vprintRaw(format, args);
    va_end(args);
}

void net_log(const char* format, ...) {
    UIGateway* ui = currentUI();
    if (ui == nullptr) return;
    va_list args;
    va_start(args, format);
    ui->vlog(format, args);
    va_end(args);
}

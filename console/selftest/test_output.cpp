#include "console/selftest/test_output.h"

#include <cstdarg>

#include "core/ui/ui_gateway.h"

void test_print(const char* format, ...) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    va_list args;
    va_start(args, format);
    ui->vprint(format, args);
    va_end(args);
}

void test_print_raw(const char* format, ...) {
    UIGateway* ui = currentUI();
    if (!ui) return;
    va_list args;
    va_start(args, format);
    ui->vprintRaw(format, args);
    va_end(args);
}

#include "core/meta/meta_messages.h"

#include <cstdarg>

#include "core/ui/ui_gateway.h"
#include "v4ada/error/error.h"
#include "v4ada/string/owned_string.h"

namespace {

enum class Channel { kRaw, kFlush, kLine, kDebug };

void send(Channel channel, const char* format, va_list args) {
    UIGateway* ui = currentUI();
    if (!ui) {
        OwnedString text;
        text.vformat(format, args);
        debug_printf(channel == Channel::kLine ? "%s\n" : "%s", text.c_str());
        return;
    }
    switch (channel) {
        case Channel::kRaw: ui->vprintRaw(format, args); break;
        case Channel::kFlush: ui->vprintFlush(format, args); break;
        case Channel::kLine: ui->vprint(format, args); break;
        case Channel::kDebug: ui->vdebug(format, args); break;
    }
}

}  // namespace

#define META_FORWARD(name, channel)            \
    void name(const char* format, ...) {       \
        va_list args;                          \
        va_start(args, format);                \
        send(channel, format, args);           \
        va_end(args);                          \
    }

META_FORWARD(metaPrintRaw, Channel::kRaw)
META_FORWARD(metaPrintFlush, Channel::kFlush)
META_FORWARD(metaPrint, Channel::kLine)
META_FORWARD(metaDebug, Channel::kDebug)

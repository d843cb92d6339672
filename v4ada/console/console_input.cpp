#include "v4ada/console/console_input.h"

#include <termios.h>

namespace {

constinit FILE* installed_input = nullptr;

}  // namespace

void console_set_input(FILE* stream) { installed_input = stream; }

FILE* console_input() { return installed_input ? installed_input : stdin; }

void console_reset_input() { clearerr(console_input()); }

bool console_read_line(char* buffer, int n) {
    if (!buffer || n <= 0) return false;
    FILE* in = console_input();
    int stored = 0;
    bool any = false;
    while (stored < n - 1) {
        int c = getc(in);
        if (c == EOF) break;
        any = true;
        if (c == '\n') break;
        buffer[stored++] = static_cast<char>(c);
    }
    // A full buffer still takes the newline that ends exactly there, so a
    // line of n - 1 characters is one read.
    if (stored == n - 1) {
        int c = getc(in);
        if (c != '\n' && c != EOF) ungetc(c, in);
    }
    buffer[stored] = '\0';
    return any;
}

int read_key() {
    FILE* in = console_input();
    int fd = fileno(in);
    termios saved{};
    if (fd < 0 || tcgetattr(fd, &saved) != 0) return getc(in);

    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tcsetattr(fd, TCSANOW, &raw);
    int c = getc(in);
    tcsetattr(fd, TCSANOW, &saved);
    return c;
}

#include "v4ada/file/debug_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
constinit i4_debug_file_class g_standardDebug;
i4_file* g_debugOutput = &g_standardDebug;
}  // namespace

i4_file* debug_output() { return g_debugOutput; }

void set_debug_output(i4_file* file) { g_debugOutput = file; }

int i4_debug_file_class::read(void* buffer, int n) {
    if (n <= 0) return 0;
    return static_cast<int>(fread(buffer, 1, static_cast<size_t>(n), stdin));
}

int i4_debug_file_class::write(const void* buffer, int n) {
    auto bytes = static_cast<const char*>(buffer);
    int done = 0;
    while (done < n) {
        ssize_t w = ::write(STDERR_FILENO, bytes + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return done ? done : -1;
        done += static_cast<int>(w);
    }
    return done;
}

void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free descriptor, which is this one.
        int opened = open("/dev/null", O_RDWR);
        if (opened > 2) close(opened);
    }
}

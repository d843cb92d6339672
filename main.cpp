// The process entry of the tandrel console client.
#include <cstdio>

#include "console/app/app_main.h"
#include "v4ada/error/error.h"
#include "v4ada/file/debug_file.h"

int main(int argc, char** argv) {
    // Before anything opens a file: no descriptor may land on 0, 1 or 2.
    ensure_standard_descriptors();
    // Lines that arrive between commands (results, transfer events, the
    // hashing thread's reports) must reach a pipe or a file as they happen,
    // not when the next command flushes: a controlling program waits for them.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    set_command_line_args(argc, argv);
    int status = 1;
    try {
        status = app_main();
    } catch (const i4_err& error) {
        const char* file = nullptr;
        int line = 0;
        last_error_location(&file, &line);
        fflush(stdout);
        if (file) {
            fprintf(stderr, "Unrecoverable error at %s:%d : %s\n", file, line, error.message());
        } else {
            fprintf(stderr, "Unrecoverable error : %s\n", error.message());
        }
        status = 1;
    }
    clear_command_line_args();
    return status;
}

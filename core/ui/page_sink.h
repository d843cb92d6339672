// PageSink: where printed lines go while the console collects a command's
// output for paging. The console installs its sink on the gateway; without
// one every line goes to standard output.
#pragma once

class PageSink {
public:
    virtual ~PageSink() = default;
    // Offered each printed line (without its newline, at most
    // kPrintLineBuffer - 1 bytes). True when the line was taken for the
    // pager; false lets it go to standard output.
    virtual bool takeLine(const char* line) = 0;
};

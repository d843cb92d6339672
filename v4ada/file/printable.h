// An object that prints itself onto a file (the %I conversion).
#pragma once

class i4_file;

class i4_printable {
public:
    virtual ~i4_printable() = default;
    virtual void print(i4_file* file) const = 0;
};

// Path text helpers. The only separator is '/': on Linux '\\' and ':' are
// ordinary bytes of a name.
#pragma once

#include "v4ada/string/owned_string.h"

// Copies the path into the buffer (at most size - 1 bytes, terminated).
// Linux paths need no conversion, so this is a plain copy; false (and an
// empty buffer) when the path does not fit.
bool fs_convert_path(const char* path, char* buffer, int size);

// Makes a name received from elsewhere safe to use as one path component
// inside a directory, in place: every '/' becomes '_', then "." becomes
// "_" and ".." becomes "__". Null is allowed; "" stays "" (callers refuse
// empty names).
void fs_safe_dot_name(char* name);
void fs_safe_dot_name(OwnedString& name);

// The canonical absolute path. When it cannot be resolved, out gets the
// path made absolute against the current directory as text, and the
// result is false.
bool fs_absolute_path(const char* path, OwnedString& out);

// Creates every missing directory along the path. False for an empty
// path, when a prefix exists but is not a directory, or when creating one
// fails.
bool fs_create_path(const char* path);

// Splits at the last '/' and the last '.' after it: directory (left as it
// is when there is no '/'), name, extension (left as it is when there is
// no '.'). Returns true.
bool fs_path_parts(const char* path, OwnedString& directory, OwnedString& name,
                   OwnedString& extension);

// The path relative to the current directory, built component by
// component ("." for the current directory itself).
bool fs_relative_path(const char* path, OwnedString& out);

// Moving a finished download to its final directory.
#pragma once

#include "v4ada/string/owned_string.h"

// Longest base name kept, in bytes.
constexpr int kIncomingNameMax = 2047;

// The name a file gets in the directory: the text after the last '/' or
// '\' of fileName (a trailing separator ignored), at most 2,047 bytes,
// made safe ('/' to '_', "." to "_", ".." to "__"); "_" when empty.
OwnedString incomingBaseName(const char* fileName);

// Moves source to "<directory>/<base name>", or "<directory>/<k>_<base
// name>" with k = 2, 3, ... when names are taken. A name is reserved before
// the move, so no existing file is ever replaced. True with finalPath set;
// false, with "<source> could not be moved to <target>" printed and
// finalPath = source, when the move fails.
bool moveToIncoming(const char* source, const char* fileName, const char* directory, OwnedString& finalPath);

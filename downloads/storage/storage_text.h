// User-visible texts of download storage: string-table entries by number
// and by key, with their built-in English defaults when no table exists.
#pragma once

#include "v4ada/string/owned_string.h"

// Entry 1 to 88 of the string table (its default without a table).
const char* storageString(int index);
// The skin's text of a key, or the given default.
OwnedString storageKeyText(const char* key, const char* fallback);

// The keys used here and their defaults.
constexpr const char* kNotFoundKey = "notFound";
constexpr const char* kNotFoundDefault = "not found.";
constexpr const char* kCouldntOpenKey = "couldntOpen";
constexpr const char* kCouldntOpenDefault = "Couldn't be opened.";

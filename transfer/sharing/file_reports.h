// How the sharing files (share.dat, known.met) report trouble: a file that
// could not be replaced keeps its old content and the user is told which;
// one that could not be read is put aside, so that no later save replaces
// what the user may still recover, and the user is told where it went.
#pragma once

constexpr const char* kNotSavedText = "Couldn't save %s";
// A record the list file could not be read back with is left out of it.
constexpr const char* kTooManyTagsText = "More than %d tags: not kept in %s: %s";

void reportNotSaved(const char* path);
// Renames the file to "<path>.corrupt" (fs_keep_aside) and says so.
void keepAsideUnreadable(const char* path);

// How a sharing file (share.dat, known.met) that could not be replaced is
// reported: the old file stays, and the user is told which one.
#pragma once

constexpr const char* kNotSavedText = "Couldn't save %s";

void reportNotSaved(const char* path);

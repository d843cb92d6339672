// Per-path locks: at most one holder per file at a time, so two saves of
// the same file from two threads run one after the other, however the
// path is written. The table lives only while some path is held and is
// freed with the last release, so nothing outlives its users. Not
// re-entrant: a thread never takes a path it already holds.
#pragma once

#include <string>

// The key a path is locked under: its directory resolved (".", ".." and
// links) and the name, so "f", "./f" and "/abs/dir/f" share one key; the
// text itself when the directory cannot be resolved.
std::string path_lock_key(const char* path);
void path_lock_acquire(const std::string& key);
void path_lock_release(const std::string& key);
// Paths held or waited for right now (for tests).
int path_lock_count();

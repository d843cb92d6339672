// Per-path locks: at most one holder per path text at a time, so two
// saves of the same file from two threads run one after the other. The
// table lives only while some path is held and is freed with the last
// release, so nothing outlives its users. Not re-entrant: a thread never
// takes a path it already holds.
#pragma once

void path_lock_acquire(const char* path);
void path_lock_release(const char* path);
// Paths held or waited for right now (for tests).
int path_lock_count();

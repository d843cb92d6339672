// Readiness flags of sockets and connections, a bit set used by every wait
// and socket set, and their mapping to poll events.
#pragma once

constexpr int kReadable = 1;
constexpr int kWritable = 2;
constexpr int kReadyError = 4;

// readable -> POLLIN, writable -> POLLOUT (error is always reported by poll).
short poll_events_from_flags(int flags);
// POLLIN -> readable, POLLOUT -> writable, POLLERR or POLLNVAL -> error;
// POLLHUP or POLLPRI alone give no flag.
int flags_from_poll_events(short revents);

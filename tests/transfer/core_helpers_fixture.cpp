// The transfer tests reuse the core tests' helpers (scratch directories,
// loopback sockets, frames, fake sockets and output capture), built here
// from their sources until one test-support library holds them.
#include "core/core_scratch_fixture.cpp"
#include "core/net/net_fixture.cpp"

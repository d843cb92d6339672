// Worker threads, thread-local keys and sleeping.
//
// Worker threads are detached and counted from thread_spawn until their
// entry returns; threads_wait_all waits for the count to reach 0. An error
// that escapes a worker's entry ends the process (see thread_spawn).
#pragma once

#include <pthread.h>

using ThreadEntry = void (*)(void* argument);
using ThreadHandle = pthread_t;
using TlsKey = pthread_key_t;

// Status the process ends with when an error escapes a worker thread.
constexpr int kThreadTrapExitStatus = 2;

// Runs entry(argument) on a new detached thread. The stack size is
// accepted and ignored. Returns 0, or the platform's error number when no
// thread could be created (after printing "pthread_create error %d\n");
// a thread that was not created is not counted.
// An i4_err escaping the entry prints "Thread error : %s\n", anything else
// "Thread unkown error\n"; either way the process ends with
// kThreadTrapExitStatus.
int thread_spawn(ThreadEntry entry, int stackSize, void* argument);

// Returns once no counted worker thread is running; sleeps briefly between
// looks.
void threads_wait_all();

ThreadHandle thread_self();
void thread_yield();
// Thread priorities are not used on this platform: does nothing, true.
bool thread_set_priority(ThreadHandle handle, int level);

// A new key without destructor; raises an error when none is left.
TlsKey tls_create_key();
void tls_set(TlsKey key, void* value);
// The calling thread's value under key; null when it never set one.
void* tls_get(TlsKey key);

// Suspends the calling thread; values below 1 return at once.
void sleep_ms(int ms);
void sleep_seconds(int seconds);

#include "v4ada/threads/linux/threads.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cxxabi.h>
#include <sched.h>
#include <unistd.h>

#include "v4ada/error/error.h"

namespace {

// Worker threads created and not yet ended.
constinit std::atomic<int32_t> live_threads{0};

// How long threads_wait_all sleeps between looks at the count.
constexpr int kWaitAllStepMs = 2;

// Handed to the new thread; it owns and frees the record.
struct StartRecord {
    ThreadEntry entry;
    void* argument;
};

[[noreturn]] void end_process_after_thread_error() {
    fflush(stderr);
    _exit(kThreadTrapExitStatus);
}

void* thread_entry(void* raw) {
    StartRecord* record = static_cast<StartRecord*>(raw);
    ThreadEntry entry = record->entry;
    void* argument = record->argument;
    delete record;
    try {
        entry(argument);
    } catch (const i4_err& error) {
        debug_printf("Thread error : %s\n", error.message());
        end_process_after_thread_error();
    } catch (abi::__forced_unwind&) {
        // pthread_exit or cancellation inside the entry: the thread still ends.
        live_threads.fetch_sub(1);
        throw;
    } catch (...) {
        debug_printf("Thread unkown error\n");
        end_process_after_thread_error();
    }
    live_threads.fetch_sub(1);
    return nullptr;
}

}  // namespace

int thread_spawn(ThreadEntry entry, int /*stackSize*/, void* argument) {
    live_threads.fetch_add(1);
    StartRecord* record = new StartRecord{entry, argument};

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int rc = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (rc != 0) debug_printf("pthread_attr_setdetachstate error %d\n", rc);

    pthread_t thread;
    rc = pthread_create(&thread, &attributes, thread_entry, record);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        debug_printf("pthread_create error %d\n", rc);
        delete record;
        live_threads.fetch_sub(1);
        return rc;
    }
    return 0;
}

void threads_wait_all() {
    while (live_threads.load() != 0) sleep_ms(kWaitAllStepMs);
}

ThreadHandle thread_self() { return pthread_self(); }

void thread_yield() { sched_yield(); }

bool thread_set_priority(ThreadHandle /*handle*/, int /*level*/) { return true; }

TlsKey tls_create_key() {
    TlsKey key{};
    int rc = pthread_key_create(&key, nullptr);
    if (rc != 0) error_at(i4_module::kThreads, __LINE__)("pthread_key_create error %d", rc);
    return key;
}

void tls_set(TlsKey key, void* value) { pthread_setspecific(key, value); }

void* tls_get(TlsKey key) { return pthread_getspecific(key); }

namespace {

// Sleeps the whole span, resuming after signals.
void sleep_for(timespec remaining) {
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

}  // namespace

void sleep_ms(int ms) {
    if (ms <= 0) return;
    sleep_for(timespec{ms / 1000, static_cast<long>(ms % 1000) * 1000000L});
}

void sleep_seconds(int seconds) {
    if (seconds <= 0) return;
    sleep_for(timespec{seconds, 0});
}

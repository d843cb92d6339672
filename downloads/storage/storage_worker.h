// StorageWorker: the threads that take the long disk work of downloads off
// the task thread: digests of received crumbs and parts (one read pass
// each) and record saves (write, sync, rename). It also holds the bounded
// cache of open part files.
//
// One worker serves the process (DownloadServices::storage). With 0
// threads nothing runs until runPending is called (tests step it). A job
// queued when the worker goes is deleted without running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <vector>

#include "downloads/storage/descriptor_cache.h"
#include "v4ada/threads/linux/sys_mutex.h"

class StorageThread;

class StorageJob {
public:
    virtual ~StorageJob() = default;
    virtual void run() = 0;
};

class StorageWorker {
public:
    static constexpr int kMaxThreads = 4;

    // threads > 0 starts that many threads at once.
    explicit StorageWorker(int threads, size_t descriptors = DescriptorCache::kDefaultCapacity);
    // Waits for the jobs running now; queued ones are deleted unrun.
    ~StorageWorker();
    // Shutdown, once nothing submits from the task thread any more: the
    // threads finish the job in hand and end (so the process's count of
    // worker threads can reach 0); queued jobs are deleted unrun, and a
    // job submitted later runs at once on the caller.
    void stopThreads();
    StorageWorker(const StorageWorker&) = delete;
    StorageWorker& operator=(const StorageWorker&) = delete;

    // min(4, cores), at least 1.
    static int defaultThreadCount();

    // Any thread. When no thread could be started, the job runs at once
    // on the caller.
    void submit(std::unique_ptr<StorageJob> job);
    // Runs the queued jobs on the caller's thread, also those queued while
    // it runs; returns how many ran.
    int runPending();
    // Returns once nothing is queued or running (with 0 threads it runs the
    // queue itself).
    void waitIdle();
    int threadCount() const { return threadCount_.load(std::memory_order_acquire); }
    // Shared with the part files that use it, so a part let go after the
    // worker still finds it.
    const std::shared_ptr<DescriptorCache>& descriptors() { return descriptors_; }

private:
    friend class StorageThread;
    // A thread's step: waits for a job (or the stop) and runs it.
    void serve();
    std::unique_ptr<StorageJob> take(bool wait);
    void finished();

    std::shared_ptr<DescriptorCache> descriptors_;
    SysMutex mutex_;
    std::condition_variable_any changed_;
    std::deque<std::unique_ptr<StorageJob>> queue_ TS_GUARDED_BY(mutex_);
    int running_ TS_GUARDED_BY(mutex_) = 0;
    bool stopping_ TS_GUARDED_BY(mutex_) = false;
    bool inline_ TS_GUARDED_BY(mutex_) = false;
    std::vector<std::unique_ptr<StorageThread>> threads_;  // the owner's only
    std::atomic<int> threadCount_{0};
};

#include "downloads/storage/storage_worker.h"

#include <algorithm>
#include <thread>

#include "core/task/thread.h"
#include "core/ui/ui_gateway.h"

class StorageThread : public Thread {
public:
    explicit StorageThread(StorageWorker& worker) : worker_(worker) {}
    ~StorageThread() override { finishBody(); }

protected:
    void run() override { worker_.serve(); }

private:
    StorageWorker& worker_;
};

StorageWorker::StorageWorker(int threads, size_t descriptors)
    : descriptors_(std::make_shared<DescriptorCache>(descriptors)) {
    threads = std::min(threads, kMaxThreads);
    for (int i = 0; i < threads; i++) {
        auto thread = std::make_unique<StorageThread>(*this);
        if (!thread->start()) break;
        threads_.push_back(std::move(thread));
    }
    threadCount_.store(static_cast<int>(threads_.size()), std::memory_order_release);
    if (threads > 0 && threads_.empty()) {
        // Nothing can run in the background: the work is done by whoever
        // asks for it, slower but complete.
        SysMutexGuard guard(&mutex_);
        inline_ = true;
        if (UIGateway* ui = currentUI()) ui->printRaw("Storage worker: no thread could be started\n");
    }
}

StorageWorker::~StorageWorker() { stopThreads(); }

void StorageWorker::stopThreads() {
    std::deque<std::unique_ptr<StorageJob>> dropped;
    {
        SysMutexGuard guard(&mutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    threadCount_.store(0, std::memory_order_release);
    for (auto& thread : threads_) thread->requestStop();
    changed_.notify_all();
    threads_.clear();  // each waits for its body
    dropped.clear();
    SysMutexGuard guard(&mutex_);
    stopping_ = false;
    inline_ = true;
}

int StorageWorker::defaultThreadCount() {
    unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(cores, 1u, static_cast<unsigned>(kMaxThreads)));
}

void StorageWorker::submit(std::unique_ptr<StorageJob> job) {
    if (!job) return;
    {
        SysMutexGuard guard(&mutex_);
        if (!inline_) {
            if (stopping_) return;
            queue_.push_back(std::move(job));
        }
    }
    if (job) {
        job->run();
        return;
    }
    changed_.notify_one();
}

std::unique_ptr<StorageJob> StorageWorker::take(bool wait) {
    SysMutexGuard guard(&mutex_);
    if (wait) changed_.wait(mutex_, [this]() TS_REQUIRES(mutex_) { return stopping_ || !queue_.empty(); });
    if (queue_.empty() || stopping_) return nullptr;
    std::unique_ptr<StorageJob> job = std::move(queue_.front());
    queue_.pop_front();
    running_++;
    return job;
}

void StorageWorker::finished() {
    {
        SysMutexGuard guard(&mutex_);
        running_--;
    }
    changed_.notify_all();
}

void StorageWorker::serve() {
    std::unique_ptr<StorageJob> job = take(true);
    if (!job) return;
    job->run();
    job.reset();  // its references go before the job counts as done
    finished();
}

int StorageWorker::runPending() {
    int ran = 0;
    while (std::unique_ptr<StorageJob> job = take(false)) {
        job->run();
        job.reset();
        finished();
        ran++;
    }
    return ran;
}

void StorageWorker::waitIdle() {
    if (threadCount() == 0) {
        runPending();
        return;
    }
    SysMutexGuard guard(&mutex_);
    changed_.wait(mutex_, [this]() TS_REQUIRES(mutex_) { return queue_.empty() && running_ == 0; });
}

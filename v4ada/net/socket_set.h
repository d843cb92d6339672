// Socket sets: descriptors waited on together with one poll.
#pragma once

struct pollfd;

class i4_socket_set {
public:
    virtual ~i4_socket_set() = default;
    // Waits at most timeoutMs (negative: no limit). Number of ready entries,
    // 0 at the time-out, negative on failure.
    virtual int wait(int timeoutMs) = 0;
    // A descriptor whose readability ends a wait early, as a time-out that
    // counts no entry (the task thread's wake-up); -1 for none.
    virtual void setWakeDescriptor(int descriptor) { (void)descriptor; }
};

class linux_socket_set : public i4_socket_set {
public:
    static constexpr int kGrowStep = 32;

    linux_socket_set() = default;
    ~linux_socket_set() override;
    linux_socket_set(const linux_socket_set&) = delete;
    linux_socket_set& operator=(const linux_socket_set&) = delete;

    void add(int descriptor, int flags);
    // Removes the descriptor's first entry, keeping the order of the rest.
    void remove(int descriptor);
    // The requested flags masked with what the last wait reported for the
    // descriptor's first entry; 0 when it is not in the set.
    int check(int descriptor, int flags) const;
    int wait(int timeoutMs) override;
    void setWakeDescriptor(int descriptor) override { wake_ = descriptor; }

    int count() const { return count_; }

private:
    // entries_ keeps one slot beyond count_ for the wake descriptor.
    pollfd* entries_ = nullptr;
    int wake_ = -1;
    int count_ = 0;
    int capacity_ = 0;
};

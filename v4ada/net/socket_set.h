// Socket sets: descriptors waited on together with one poll.
#pragma once

#include <vector>

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
    // Readiness flags the next waits look for at all, whatever an entry
    // asks (a spent byte budget leaves readable or writable out, so that
    // a socket the budget keeps from being served cannot end every wait).
    virtual void setMask(int flags) { (void)flags; }
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
    // The flags the descriptor's first entry waits for from now on.
    void watch(int descriptor, int flags);
    // The requested flags masked with what the last wait reported for the
    // descriptor's first entry; 0 when it is not in the set.
    int check(int descriptor, int flags) const;
    int wait(int timeoutMs) override;
    void setWakeDescriptor(int descriptor) override { wake_ = descriptor; }
    void setMask(int flags) override;

    int count() const { return count_; }

private:
    // entries_ keeps one slot beyond count_ for the wake descriptor.
    pollfd* entries_ = nullptr;
    int wake_ = -1;
    short mask_ = -1;  // all events
    std::vector<short> asked_;  // the entries' own events during a masked wait
    int count_ = 0;
    int capacity_ = 0;
};

// tcp_copy_bench: the reference for downloads over loopback: a plain copy
// of a file through one TCP connection on 127.0.0.1, read in 1 MiB blocks
// on one side and written to a new file on the other, as fast as the
// machine goes. Prints "tcp-copy <MB/s> <bytes>"; the copy is compared with
// the source afterwards by the caller.
//
// Usage: tcp_copy_bench source destination
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr size_t kBlock = 1 << 20;

bool writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t done = ::write(fd, data, n);
        if (done <= 0) return false;
        data += done;
        n -= static_cast<size_t>(done);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tcp_copy_bench source destination\n");
        return 2;
    }
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        return 1;
    }
    int in = ::open(argv[1], O_RDONLY);
    int out = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        std::perror("open");
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    bool sent = false;
    std::thread sender([&] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            ::close(fd);
            return;
        }
        std::unique_ptr<char[]> block(new char[kBlock]);
        ssize_t n;
        bool ok = true;
        while (ok && (n = ::read(in, block.get(), kBlock)) > 0) ok = writeAll(fd, block.get(), static_cast<size_t>(n));
        sent = ok;
        ::close(fd);
    });
    int peer = ::accept(listener, nullptr, nullptr);
    std::unique_ptr<char[]> block(new char[kBlock]);
    long long total = 0;
    ssize_t n;
    bool written = peer >= 0;
    while (written && (n = ::read(peer, block.get(), kBlock)) > 0) {
        written = writeAll(out, block.get(), static_cast<size_t>(n));
        total += n;
    }
    sender.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(peer);
    ::close(listener);
    ::close(in);
    if (::close(out) != 0 || !sent || !written) {
        std::fprintf(stderr, "tcp_copy_bench: the copy failed\n");
        return 1;
    }
    std::printf("tcp-copy %.1f %lld\n", static_cast<double>(total) / 1e6 / seconds, total);
    return 0;
}

// Sole ownership of one file descriptor: closed when the owner goes away.
#pragma once

#include <cerrno>
#include <unistd.h>
#include <utility>

class unique_fd {
    int fd_;

public:
    explicit unique_fd(int fd = -1) : fd_(fd) {}
    unique_fd(unique_fd &&o) noexcept : fd_(o.release()) {}
    unique_fd &operator=(unique_fd &&o) noexcept
    {
        reset(o.release());
        return *this;
    }
    unique_fd(const unique_fd &) = delete;
    unique_fd &operator=(const unique_fd &) = delete;
    ~unique_fd() { reset(); }

    [[nodiscard]] int release() { return std::exchange(fd_, -1); }
    // Keeps errno, so a failure can still be reported after the clean-up.
    void reset(int fd = -1)
    {
        int e = errno;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
        errno = e;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
};

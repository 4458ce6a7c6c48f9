#include "io.h"

#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

int write_all(int fd, std::span<const char> bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        // A write that takes nothing would take nothing again: retrying spins.
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        bytes = bytes.subspan(static_cast<size_t>(n));
    }
    return 0;
}

ssize_t read_full(int fd, std::span<char> buf)
{
    size_t got = 0;
    while (got < buf.size()) {
        ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -errno;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int write_all_at(int fd, std::span<const char> bytes, off_t at)
{
    while (!bytes.empty()) {
        ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? -errno : -EIO;
        bytes = bytes.subspan(static_cast<size_t>(n));
        at += n;
    }
    return 0;
}

ssize_t read_full_at(int fd, std::span<char> buf, off_t at)
{
    size_t got = 0;
    while (got < buf.size()) {
        ssize_t n = ::pread(fd, buf.data() + got, buf.size() - got, at + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -errno;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int device_ioctl(int fd, unsigned long request, void *arg)
{
    return static_cast<int>(::syscall(SYS_ioctl, fd, request, arg));
}

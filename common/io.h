// Whole reads and writes on descriptors: short transfers and EINTR are
// retried, so a caller sees either everything or an error.
#pragma once

#include <cstddef>
#include <span>
#include <sys/types.h>

// 0 when every byte was written, else -errno; a write that takes no bytes
// (a device or file system that takes no more) is -EIO.
int write_all(int fd, std::span<const char> bytes);

// Reads until `buf` is full or the end of the file. The count read, or -errno.
ssize_t read_full(int fd, std::span<char> buf);

// ioctl(2) by its system call, for requests that carry no time values: the
// C library's ioctl() converts those of other requests at the cost of a
// table (1.3 KB on the device). 0 or more, or -1 and errno.
int device_ioctl(int fd, unsigned long request, void *arg);

// The same at offset `at` (pwrite, pread), the file offset left alone.
int write_all_at(int fd, std::span<const char> bytes, off_t at);
ssize_t read_full_at(int fd, std::span<char> buf, off_t at);

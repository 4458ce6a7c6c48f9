#include "read_file.h"

#include "io.h"
#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>

int open_checked(const char *path, int flags, bool (*kind_ok)(const struct stat &),
                 struct stat &st)
{
    unique_fd fd(::open(path, flags | O_CLOEXEC | O_NONBLOCK));
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return -errno;
    if (!kind_ok(st))
        return S_ISDIR(st.st_mode) ? -EISDIR : -ENODEV;
    return fd.release();
}

int open_regular_input(const char *path)
{
    struct stat st;
    return open_checked(path, O_RDONLY, [](const struct stat &s) { return S_ISREG(s.st_mode); }, st);
}

int read_whole_file(int fd, heap_text &out)
{
    char chunk[16384];
    ssize_t n;
    while ((n = read_full(fd, chunk)) > 0) {
        if (int rc = out.append(std::span<const char>(chunk, static_cast<size_t>(n))))
            return rc;
        if (static_cast<size_t>(n) < sizeof chunk)
            break;
    }
    return n < 0 ? static_cast<int>(n) : 0;
}

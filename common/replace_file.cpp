#include "replace_file.h"

#include "io.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The permissions a newly created file gets under the current umask.
mode_t default_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int sync_parent_dir(const char *path)
{
    char dir[PATH_MAX];
    const char *slash = std::strrchr(path, '/');
    if (!slash)
        std::memcpy(dir, ".", 2);
    else if (slash == path)
        std::memcpy(dir, "/", 2);
    else {
        size_t n = static_cast<size_t>(slash - path);
        std::memcpy(dir, path, n);
        dir[n] = '\0';
    }
    unique_fd d(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d)
        return -errno;
    return ::fsync(d.get()) == 0 ? 0 : -errno;
}

} // namespace

file_replacement::~file_replacement()
{
    if (fd_) {
        fd_.reset();
        ::unlink(temp_);
    }
}

int file_replacement::begin(const char *target, const struct stat *like)
{
    int n = std::snprintf(temp_, sizeof temp_, "%s.XXXXXX", target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof temp_)
        return -ENAMETOOLONG;
    std::memcpy(target_, target, std::strlen(target) + 1);
    fd_.reset(::mkostemp(temp_, O_CLOEXEC));
    if (!fd_)
        return -errno;
    mode_t mode = like ? (like->st_mode & 07777) : default_mode();
    if (::fchmod(fd_.get(), mode) != 0)
        return -errno;
    // Only root may give a file away; others keep it as their own.
    if (like && ::fchown(fd_.get(), like->st_uid, like->st_gid) != 0 && errno != EPERM)
        return -errno;
    return 0;
}

int file_replacement::write(std::span<const char> bytes)
{
    return fd_ ? write_all(fd_.get(), bytes) : -EBADF;
}

int file_replacement::commit(bool durable)
{
    if (!fd_)
        return -EBADF;
    if (durable && ::fsync(fd_.get()) != 0)
        return -errno;
    // close() reports late write errors on some file systems (NFS, FUSE).
    if (::close(fd_.release()) != 0) {
        int e = errno;
        ::unlink(temp_);
        return -e;
    }
    if (::rename(temp_, target_) != 0) {
        int e = errno;
        ::unlink(temp_);
        return -e;
    }
    return durable ? sync_parent_dir(target_) : 0;
}

int replace_file(const char *target, std::span<const char> text,
                 const struct stat *like, bool durable)
{
    file_replacement r;
    int rc = r.begin(target, like);
    if (rc == 0)
        rc = r.write(text);
    if (rc == 0)
        rc = r.commit(durable);
    return rc;
}

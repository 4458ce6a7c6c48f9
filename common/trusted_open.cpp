#include "trusted_open.h"

#include "unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

distrust judge(const struct stat &st, owner who)
{
    if (S_ISLNK(st.st_mode))
        return st.st_uid == ::geteuid() ? distrust::none : distrust::foreign_link;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        return distrust::not_regular;
    if (who == owner::any)
        return distrust::none;
    if (st.st_uid != ::geteuid())
        return distrust::foreign_file;
    // A device node (the flash copy) or a directory is judged by the system.
    if (!S_ISREG(st.st_mode))
        return distrust::none;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return distrust::writable;
    // (A count of none: a file of ours renamed over since it was opened.)
    if (st.st_nlink > 1)
        return distrust::linked;
    return distrust::none;
}

int refuse(distrust d, distrust *why)
{
    if (why)
        *why = d;
    return d == distrust::foreign_link ? -ELOOP : d == distrust::not_regular ? -EINVAL : -EPERM;
}

} // namespace

const char *distrust_text(distrust why)
{
    switch (why) {
    case distrust::foreign_link: return "a symbolic link of another user";
    case distrust::foreign_file: return "a file of another user";
    case distrust::not_regular: return "not a regular file";
    case distrust::writable: return "a file that others may write";
    case distrust::linked: return "a file with more than one hard link";
    case distrust::none: break;
    }
    return "trusted";
}

bool own_regular(const struct stat &st)
{
    return S_ISREG(st.st_mode) && judge(st, owner::self) == distrust::none;
}

int trusted_open(const char *path, int flags, mode_t mode, distrust *why, owner who)
{
    if (why)
        *why = distrust::none;
    const int fixed = flags | O_CLOEXEC | O_NONBLOCK;
    unique_fd fd(::open(path, fixed | O_NOFOLLOW, mode));
    struct stat st;
    if (!fd) {
        // A link makes the open fail (ELOOP); so do a FIFO without a reader
        // and a socket (ENXIO), and a directory opened for writing (EISDIR).
        const int err = -errno;
        if (::lstat(path, &st) != 0)
            return err;
        if (distrust d = judge(st, who); d != distrust::none)
            return refuse(d, why);
        if (!S_ISLNK(st.st_mode))
            return err;
        fd.reset(::open(path, fixed, mode));  // our own link: what it names is judged below
        if (!fd)
            return -errno;
    }
    if (::fstat(fd.get(), &st) != 0)
        return -errno;
    if (distrust d = judge(st, who); d != distrust::none)
        return refuse(d, why);
    // Opened without waiting; the reads and writes that follow may wait.
    if (!(flags & O_NONBLOCK)) {
        int fl = ::fcntl(fd.get(), F_GETFL);
        if (fl < 0 || ::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0)
            return -errno;
    }
    return fd.release();
}

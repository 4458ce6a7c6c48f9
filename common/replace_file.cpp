#include "replace_file.h"

#include "format.h"
#include "io.h"
#include "monotonic.h"
#include "trusted_open.h"

#include <cerrno>
#include <cstring>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The permissions of a new file: readable by all, written by its owner
// alone, whatever the umask lets through (a board may start us under
// umask 0); a stricter umask still takes bits away.
mode_t default_mode()
{
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0644 & ~mask;
}

// The directory part of `path` into `dir` (PATH_MAX bytes); the name part.
const char *split_path(const char *path, char *dir)
{
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
    return slash ? slash + 1 : path;
}

int sync_parent_dir(const char *path)
{
    char dir[PATH_MAX];
    split_path(path, dir);
    unique_fd d(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d)
        return -errno;
    return ::fsync(d.get()) == 0 ? 0 : -errno;
}

// A temporary name is the target's, ".tmp~" and six letters or digits: a
// name no file but our own temporaries has (".backup" has six letters too).
constexpr char temp_infix[] = ".tmp~";

bool temp_name_of(const char *name, const char *base)
{
    const size_t n = std::strlen(base), m = sizeof temp_infix - 1;
    if (std::strlen(name) != n + m + 6 || std::memcmp(name, base, n) != 0 ||
        std::memcmp(name + n, temp_infix, m) != 0)
        return false;
    for (const char *c = name + n + m; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)))
            return false;
    return true;
}

// Renames the file at `temp` over `target`. An empty directory in the
// target's place (another user may plant one in /tmp) is removed first:
// the new file replaces whatever stood there.
int rename_over(const char *temp, const char *target)
{
    if (::rename(temp, target) == 0)
        return 0;
    if (errno == EISDIR && ::rmdir(target) == 0 && ::rename(temp, target) == 0)
        return 0;
    return errno == ENOTEMPTY || errno == EEXIST ? -EISDIR : -errno;
}

// The time of day in seconds; -1 when it cannot be read: then no file is
// idle.
time_t wall_clock_s()
{
    return clock_now(CLOCK_REALTIME).tv_sec;
}

// The six letters that end a temporary name `temp` for one attempt at a
// name no file has: random where the system has randomness to give (no
// other user can take the names in advance), else from the process.
constexpr int name_attempts = 16;

void choose_letters(char *temp, int attempt)
{
    unsigned tag;
    if (::getrandom(&tag, sizeof tag, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof tag))
        tag = static_cast<unsigned>(::getpid()) << 12 ^ static_cast<unsigned>(attempt) * 7919;
    format_into(std::span<char>(temp + std::strlen(temp) - 6, 7), "%06x", tag & 0xFFFFFFu);
}

// A named temporary file, for a file system without unnamed ones.
int open_named(char *temp)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        choose_letters(temp, attempt);
        int fd = ::open(temp, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

int open_temporary(const char *target, char *temp, bool &unnamed, mode_t mode)
{
    if (format_into(std::span<char>(temp, PATH_MAX), "%s%sXXXXXX", target, temp_infix) >= PATH_MAX)
        return -ENAMETOOLONG;
    // Unnamed until complete, so a killed run leaves nothing behind; a file
    // system without unnamed files gets a named one.
    char dir[PATH_MAX];
    split_path(target, dir);
    int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    unnamed = fd >= 0;
    if (fd < 0)
        fd = open_named(temp);
    return fd >= 0 ? fd : -errno;
}

int make_temporary_dir(char *path)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        choose_letters(path, attempt);
        if (::mkdir(path, 0700) == 0)
            return 0;
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

int name_temporary(int fd, char *temp)
{
    for (int attempt = 0; attempt < name_attempts; ++attempt) {
        choose_letters(temp, attempt);
        int rc = ::linkat(fd, "", AT_FDCWD, temp, AT_EMPTY_PATH);
        if (rc != 0 && errno != EEXIST) {
            char proc[32];
            format_into(proc, "/proc/self/fd/%d", fd);
            rc = ::linkat(AT_FDCWD, proc, AT_FDCWD, temp, AT_SYMLINK_FOLLOW);
        }
        if (rc == 0)
            return 0;
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

void remove_stale_replacements(const char *target, int idle_s)
{
    // A file written "in the future" (the clock was set back since) waits
    // until the clock passes it.
    const time_t written_before = idle_s ? wall_clock_s() - idle_s : 0;
    char dir[PATH_MAX];
    const char *base = split_path(target, dir);
    unique_fd d(::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!d)
        return;
    // The entries straight from the system, into a buffer of our own: a
    // directory stream would take its buffer from the heap.
    alignas(8) char list[2048];
    for (long n; (n = ::syscall(SYS_getdents64, d.get(), list, sizeof list)) > 0;) {
        for (long at = 0; at < n;) {
            // Each entry: inode (8 bytes), offset (8), its length (2),
            // type (1), then its name and a zero byte.
            unsigned short len;
            std::memcpy(&len, list + at + 16, sizeof len);
            const char *name = list + at + 19;
            at += len;
            struct stat st;
            if (temp_name_of(name, base) &&
                ::fstatat(d.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && own_regular(st) &&
                (idle_s == 0 || st.st_mtime <= written_before))
                ::unlinkat(d.get(), name, 0);
        }
    }
}

file_replacement::~file_replacement()
{
    if (fd_) {
        fd_.reset();
        if (!unnamed_)
            ::unlink(temp_);
    }
}

int file_replacement::begin(const char *target, const struct stat *like)
{
    // A new file's mode is what the umask leaves of 0644 (default_mode): an
    // unnamed one gets it as it is created, a named one (always 0600)
    // afterwards.
    int fd = open_temporary(target, temp_, unnamed_, like ? 0600 : 0644);
    if (fd < 0)
        return fd;
    fd_.reset(fd);
    std::memcpy(target_, target, std::strlen(target) + 1);
    // The owner first: a change of owner clears the set-user-ID and
    // set-group-ID bits, which the mode then sets again. Only root may give
    // a file away; others keep it as their own.
    if (like && ::fchown(fd_.get(), like->st_uid, like->st_gid) != 0 && errno != EPERM)
        return -errno;
    if (!like && unnamed_)
        return 0;
    mode_t mode = like ? (like->st_mode & 07777) : default_mode();
    if (::fchmod(fd_.get(), mode) != 0)
        return -errno;
    return 0;
}

int file_replacement::write(std::span<const char> bytes)
{
    return fd_ ? write_all(fd_.get(), bytes) : -EBADF;
}

int file_replacement::commit(durability d)
{
    const bool durable = d == durability::synced;
    if (!fd_)
        return -EBADF;
    if (durable && ::fsync(fd_.get()) != 0)
        return -errno;
    if (unnamed_) {
        if (int rc = name_temporary(fd_.get(), temp_))
            return rc;
        unnamed_ = false;
    }
    // close() reports late write errors on some file systems (NFS, FUSE).
    if (::close(fd_.release()) != 0) {
        int e = errno;
        ::unlink(temp_);
        return -e;
    }
    if (int rc = rename_over(temp_, target_); rc != 0) {
        ::unlink(temp_);
        return rc;
    }
    return durable ? sync_parent_dir(target_) : 0;
}

int replace_file(const char *target, std::span<const char> text,
                 const struct stat *like, durability d)
{
    file_replacement r;
    int rc = r.begin(target, like);
    if (rc == 0)
        rc = r.write(text);
    if (rc == 0)
        rc = r.commit(d);
    return rc;
}

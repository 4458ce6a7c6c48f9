#include "setting_read.h"

#include "monotonic.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

timespec deadline_after(int ms)
{
    timespec t = monotonic_now();
    t.tv_sec += ms / 1000;
    t.tv_nsec += (ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

// Milliseconds until `end`, rounded up; 0 once it has passed.
int ms_left(const timespec &end)
{
    timespec now = monotonic_now();
    long long ns = (end.tv_sec - now.tv_sec) * 1000000000LL + (end.tv_nsec - now.tv_nsec);
    return ns <= 0 ? 0 : static_cast<int>((ns + 999999) / 1000000);
}

// A started command, waited for on every path. One that has not ended by
// itself is killed together with its process group, so a hung shell script
// takes the commands it started with it.
class child_process {
    pid_t pid_;

    bool try_reap()
    {
        pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
        if (r == pid_ || (r < 0 && errno == ECHILD)) {
            pid_ = -1;
            return true;
        }
        return false;
    }

public:
    explicit child_process(pid_t pid) : pid_(pid) {}
    child_process(const child_process &) = delete;
    child_process &operator=(const child_process &) = delete;
    ~child_process()
    {
        if (pid_ <= 0)
            return;
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    bool started() const { return pid_ > 0; }
    void wait_until(const timespec &end);
};

void child_process::wait_until(const timespec &end)
{
    if (try_reap())
        return;
    // A pidfd becomes readable when the child ends; without one (old
    // kernels) the child is looked at every few milliseconds.
    unique_fd pidfd;
#ifdef SYS_pidfd_open
    pidfd.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
#endif
    do {
        int left = ms_left(end);
        if (left <= 0)
            return;
        struct pollfd p = {pidfd.get(), POLLIN, 0};
        if (!pidfd || (::poll(&p, 1, left) < 0 && errno != EINTR)) {
            pidfd.reset();
            const timespec pause = {0, std::min(left, 5) * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    } while (!try_reap());
}

struct spawn_setup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool have_actions, have_attr, ok;

    explicit spawn_setup(int out_fd)
    {
        have_actions = ::posix_spawn_file_actions_init(&actions) == 0;
        have_attr = ::posix_spawnattr_init(&attr) == 0;
        ok = have_actions && have_attr &&
             ::posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO) == 0 &&
             ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP) == 0 &&
             ::posix_spawnattr_setpgroup(&attr, 0) == 0;
    }
    spawn_setup(const spawn_setup &) = delete;
    spawn_setup &operator=(const spawn_setup &) = delete;
    ~spawn_setup()
    {
        if (have_attr)
            ::posix_spawnattr_destroy(&attr);
        if (have_actions)
            ::posix_spawn_file_actions_destroy(&actions);
    }
};

// The command's standard output goes to `out_fd`; everything else it
// inherits, as from a shell, except descriptors, which are all close-on-exec.
pid_t spawn_cfg(const char *cfg, const char *name, int out_fd)
{
    spawn_setup setup(out_fd);
    if (!setup.ok)
        return -1;
    char option[] = "-v";
    char *argv[] = {const_cast<char *>(cfg), option, const_cast<char *>(name), nullptr};
    pid_t pid;
    if (::posix_spawnp(&pid, cfg, &setup.actions, &setup.attr, argv, environ) != 0)
        return -1;
    return pid;
}

// Reads until the first line end or until `line` is full.
read_result read_first_line(int fd, std::span<char> line, size_t &len, const timespec &end)
{
    len = 0;
    struct pollfd p = {fd, POLLIN, 0};
    while (len < line.size()) {
        int left = ms_left(end);
        int ready = left > 0 ? ::poll(&p, 1, left) : 0;
        if (ready == 0)
            return read_result::timed_out;
        if (ready < 0 && errno == EINTR)
            continue;
        ssize_t got = ready < 0 ? -1 : ::read(fd, line.data() + len, line.size() - len);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return read_result::failed;
        if (got == 0)
            return len ? read_result::value : read_result::nothing;
        const void *nl = std::memchr(line.data() + len, '\n', static_cast<size_t>(got));
        len += static_cast<size_t>(got);
        if (nl) {
            len = static_cast<size_t>(static_cast<const char *>(nl) - line.data()) + 1;
            break;
        }
    }
    return read_result::value;
}

} // namespace

read_result setting_read(const char *cfg, const char *name, std::span<char> value,
                         int timeout_ms)
{
    if (value.empty())
        return read_result::failed;
    const timespec end = deadline_after(timeout_ms);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return read_result::failed;
    unique_fd in(ends[0]), out(ends[1]);
    child_process child(spawn_cfg(cfg, name, out.get()));
    out.reset();
    if (!child.started())
        return read_result::failed;

    // The device's setting buffers hold at most 64 bytes.
    char line[1024];
    size_t len;
    read_result r = read_first_line(
        in.get(), std::span<char>(line, std::min(value.size() - 1, sizeof line)), len, end);
    // The rest of the output is left unread, as a pipe stream closed early.
    in.reset();
    child.wait_until(end);
    if (r == read_result::value) {
        std::memcpy(value.data(), line, len);
        value[len] = '\0';
    }
    return r;
}

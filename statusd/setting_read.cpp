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
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

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

// How often a read that waits for output looks whether cfg has ended, and
// how long output may still come from what it left running once it has.
constexpr int exit_check_ms = 50;
constexpr int after_exit_ms = 100;

// One run of cfg in a process group of its own, so that everything it
// starts can be ended with it (a helper that leaves the group cannot).
// The run is over when the owner goes: the group is killed, whether or not
// cfg has ended by itself, and cfg is waited for.
class cfg_run {
    pid_t pid_;

public:
    explicit cfg_run(pid_t pid) : pid_(pid) {}
    cfg_run(const cfg_run &) = delete;
    cfg_run &operator=(const cfg_run &) = delete;
    ~cfg_run()
    {
        if (pid_ <= 0)
            return;
        // cfg is not reaped yet, so its group's number is still its own.
        ::kill(-pid_, SIGKILL);
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    bool started() const { return pid_ > 0; }
    // True once cfg itself has ended (it is left unreaped).
    bool ended() const
    {
        siginfo_t info;
        info.si_pid = 0;
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }
};

struct cfg_command {
    const char *cfg;
    char *const *argv;
    int out_fd;
};

// The new process: a process group of its own, the pipe as its standard
// output, then cfg. One that cannot be run ends at once, printing nothing.
int run_cfg(void *arg)
{
    const cfg_command &c = *static_cast<const cfg_command *>(arg);
    if (::setpgid(0, 0) == 0 && ::dup2(c.out_fd, STDOUT_FILENO) == STDOUT_FILENO)
        ::execvp(c.cfg, c.argv);
    ::_exit(127);
}

// Reads until the first line end, a full `line` or the end of the output.
// Output that outlives cfg (a helper it left running holds the pipe) is
// waited for only briefly, then the output counts as ended. The bytes read
// (0: none came), or -ETIMEDOUT, or a failed read's -errno.
ssize_t read_first_line(int fd, std::span<char> line, timespec end, const cfg_run &cfg)
{
    size_t len = 0;
    bool cfg_ended = false;
    struct pollfd p = {fd, POLLIN, 0};
    while (len < line.size()) {
        int left = ms_left(end);
        if (left == 0 && !cfg_ended)
            return -ETIMEDOUT;
        int ready = left == 0 ? 0 : ::poll(&p, 1, cfg_ended ? left : std::min(left, exit_check_ms));
        if (ready == 0 && cfg_ended)
            break;
        if (ready == 0 && cfg.ended()) {
            cfg_ended = true;
            const timespec soon = deadline_after(after_exit_ms);
            if (ms_left(soon) < ms_left(end))
                end = soon;
        }
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        ssize_t got = ready < 0 ? -1 : ::read(fd, line.data() + len, line.size() - len);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -errno;
        if (got == 0)
            break;
        const void *nl = std::memchr(line.data() + len, '\n', static_cast<size_t>(got));
        len += static_cast<size_t>(got);
        if (nl)
            return static_cast<const char *>(nl) - line.data() + 1;
    }
    return static_cast<ssize_t>(len);
}

} // namespace

pid_t spawn_cfg(const char *cfg, const char *name, int out_fd)
{
    // Enough for the search along PATH, which builds each path on the
    // stack; one stack serves, as one cfg starts at a time.
    alignas(16) static char stack[16384];
    char option[] = "-v";
    char *argv[] = {const_cast<char *>(cfg), option, const_cast<char *>(name), nullptr};
    cfg_command c = {cfg, argv, out_fd};
    pid_t pid = ::clone(run_cfg, stack + sizeof stack, CLONE_VM | CLONE_VFORK | SIGCHLD, &c);
    return pid > 0 ? pid : -1;
}

int setting_read(const char *cfg, const char *name, std::span<char> value, int timeout_ms)
{
    if (value.empty())
        return -EINVAL;
    const timespec end = deadline_after(timeout_ms);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return -errno;
    unique_fd in(ends[0]), out(ends[1]);
    cfg_run run(spawn_cfg(cfg, name, out.get()));
    out.reset();
    if (!run.started())
        return -errno;

    // The device's setting buffers hold at most 64 bytes.
    char line[1024];
    const ssize_t len = read_first_line(
        in.get(), std::span<char>(line, std::min(value.size() - 1, sizeof line)), end, run);
    // The rest of the output is left unread, as a pipe stream closed early;
    // `run` ends what cfg started.
    in.reset();
    if (len <= 0)
        return len == 0 ? -ENODATA : static_cast<int>(len);
    std::memcpy(value.data(), line, static_cast<size_t>(len));
    value[static_cast<size_t>(len)] = '\0';
    return 0;
}

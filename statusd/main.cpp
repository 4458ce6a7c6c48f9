// statusd: publishes the state of the access point for the rest of the
// device's software. Every three seconds it writes the radio, WAN, LAN and
// system records to /tmp/Radio.txt, /tmp/Wan.txt, /tmp/Lan.txt and
// /tmp/SysInfo.txt. While /tmp/reboot exists it restarts the device.
// It takes no arguments (-h or --help first prints its usage and starts
// nothing), prints nothing and runs until the device restarts.
#include "cycle.h"
#include "if_query.h"
#include "messages.h"
#include "report.h"

#include "replace_file.h"
#include "usage.h"

#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/reboot.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr char report_dir[] = "/tmp";

// Children get their output on descriptor 1: should statusd be started with
// a standard descriptor closed, a pipe could take its number.
void keep_standard_descriptors()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            return;
    }
}

// Descriptors statusd inherited from whoever started it are no business of
// the commands it runs: all above the standard three become close-on-exec.
void keep_inherited_descriptors_to_itself()
{
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) == 0)
        return;
#endif
    // The descriptor limit (sysconf's _SC_OPEN_MAX is this, through more code).
    struct rlimit lim;
    const rlim_t max = ::getrlimit(RLIMIT_NOFILE, &lim) == 0 ? lim.rlim_cur : 0;
    const int end = max > 0 && max < 65536 ? static_cast<int>(max) : 65536;
    for (int fd = 3; fd < end; ++fd) {
        int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

// Whoever created the trigger gets a second to finish writing; then the
// file systems are synced so nothing written before is lost. A refused
// request lets the cycle go on and is made again in the next one.
void restart_device()
{
    ::sleep(1);
    ::sync();
    ::reboot(RB_AUTOBOOT);
}

} // namespace

int main(int argc, char **argv)
{
    if (help_asked(argc, argv))
        return show_usage(msg_usage);
    keep_standard_descriptors();
    keep_inherited_descriptors_to_itself();
    // statusd alone writes its reports: a replacement a killed run left
    // half-made is of no use to anyone.
    for (const char *report : report_files) {
        char path[PATH_MAX];
        if (report_path(report_dir, report, path) == 0)
            remove_stale_replacements(path);
    }
    // Children are waited for one by one; an inherited "ignore" would reap
    // them behind statusd's back.
    ::signal(SIGCHLD, SIG_DFL);
    query_socket queries;
    status_values values = {};
    cycle_setup setup;
    setup.report_dir = report_dir;
    for (;;) {
        if (::access(restart_trigger, F_OK) == 0)
            restart_device();
        report_cycle(values, setup, queries);
        ::sleep(cycle_pause_s);
    }
}

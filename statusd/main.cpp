// statusd: publishes the state of the access point for the rest of the
// device's software. Every three seconds it writes the radio, WAN, LAN and
// system records to /tmp/Radio.txt, /tmp/Wan.txt, /tmp/Lan.txt and
// /tmp/SysInfo.txt. While /tmp/reboot exists it restarts the device.
// It takes no arguments, prints nothing and runs until the device restarts.
#include "cycle.h"

#include <csignal>
#include <fcntl.h>
#include <sys/reboot.h>
#include <unistd.h>

namespace {

constexpr char restart_trigger[] = "/tmp/reboot";
constexpr unsigned cycle_pause_s = 3;

// Children get their output on descriptor 1: should statusd be started with
// a standard descriptor closed, a pipe could take its number.
void keep_standard_descriptors()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            return;
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

int main()
{
    keep_standard_descriptors();
    // Children are waited for one by one; an inherited "ignore" would reap
    // them behind statusd's back.
    ::signal(SIGCHLD, SIG_DFL);
    status_values values = {};
    const cycle_setup setup;
    for (;;) {
        if (::access(restart_trigger, F_OK) == 0)
            restart_device();
        report_cycle(values, setup);
        ::sleep(cycle_pause_s);
    }
}

// CPU cost of statusd's report cycle beside its floor: the ten runs of cfg
// that every cycle needs, made the cheapest way (spawned directly, output
// thrown away). Both count this process and its children, user and system.
//
//   statusd_cycle REPORT_DIR CYCLES
//
// Runs in the device sandbox (bench/statusd), with `cfg` on PATH.
#include "cycle.h"
#include "if_query.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr const char *settings[] = {"AP_CHMODE", "AP_STARTMODE", "AP_SECMODE", "AP_SSID",
                                    "AP_PRIMARY_CH", "TXPOWER", "WAN_MODE", "WAN_IF_MODE",
                                    "DHCP_SERVER", "AP_DEVICE_NAME"};

struct cpu {
    long long self_us, children_us;
};

long long used_us(int who)
{
    struct rusage u;
    ::getrusage(who, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

cpu cpu_now()
{
    return {used_us(RUSAGE_SELF), used_us(RUSAGE_CHILDREN)};
}

void add(cpu &sum, const cpu &from, const cpu &to)
{
    sum.self_us += to.self_us - from.self_us;
    sum.children_us += to.children_us - from.children_us;
}

void print_row(const char *what, const cpu &c, int n)
{
    std::printf("| %-20s | %4d | %6lld us | %6lld us | %6lld us |\n", what, n,
                (c.self_us + c.children_us) / n, c.self_us / n, c.children_us / n);
}

void floor_cycle(int null_fd)
{
    for (const char *name : settings) {
        posix_spawn_file_actions_t fa;
        ::posix_spawn_file_actions_init(&fa);
        ::posix_spawn_file_actions_adddup2(&fa, null_fd, STDOUT_FILENO);
        char cfg[] = "cfg", opt[] = "-v";
        char *argv[] = {cfg, opt, const_cast<char *>(name), nullptr};
        pid_t pid;
        if (::posix_spawnp(&pid, "cfg", &fa, nullptr, argv, environ) == 0)
            ::waitpid(pid, nullptr, 0);
        ::posix_spawn_file_actions_destroy(&fa);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fputs("usage: statusd_cycle REPORT_DIR CYCLES\n", stderr);
        return 2;
    }
    const int cycles = std::atoi(argv[2]);
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    query_socket queries;  // as statusd asks
    status_values values = {};
    cycle_setup setup;
    setup.report_dir = argv[1];
    // Rounds alternate so that drift in the machine's speed hits both alike.
    const int rounds = 10;
    cpu floor = {}, cycle = {};
    for (int r = 0; r < rounds; r++) {
        cpu t0 = cpu_now();
        for (int i = 0; i < cycles / rounds; i++)
            floor_cycle(null_fd);
        cpu t1 = cpu_now();
        for (int i = 0; i < cycles / rounds; i++)
            report_cycle(values, setup, queries);
        cpu t2 = cpu_now();
        add(floor, t0, t1);
        add(cycle, t1, t2);
    }
    const int n = cycles / rounds * rounds;
    std::printf("| %-20s | runs | CPU/cycle | itself    | children  |\n", "");
    std::printf("|---|---|---|---|---|\n");
    print_row("ten cfg runs (floor)", floor, n);
    print_row("report cycle", cycle, n);
    std::printf("cycle / floor: %.3fx\n",
                static_cast<double>(cycle.self_us + cycle.children_us) /
                    static_cast<double>(floor.self_us + floor.children_us));
    return 0;
}

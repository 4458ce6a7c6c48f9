// The floor of statusd's report cycle, for the device: a daemon that does
// in each cycle exactly the work any statusd must do there, and nothing
// else, so that statusd's own CPU per cycle over this one's is what
// statusd spends beyond the necessary. A cycle of the shipped settings
// (WISP mode over ath0):
//   - the restart trigger's existence test;
//   - ten runs of `cfg -v NAME`, started as statusd starts them
//     (spawn_cfg), each read with plain blocking reads up to its first line
//     end, its end of output or its value buffer's size, its process group
//     killed and cfg reaped;
//   - /proc/net/route read once, one read of the whole table;
//   - the seven interface queries, through one socket (statusd's own
//     functions: an ioctl pair or one ioctl each, the dotted-quad and MAC
//     texts);
//   - the four report files replaced as statusd replaces them
//     (replace_file), each with a record of the size statusd last wrote,
//     taken from the files found at start;
//   - the pause after the cycle.
// It composes no record, takes no stamp, parses no routing table, watches
// no deadline.
//
//   statusd_floor [CYCLES]      the floor's cycles (default: until killed)
//   statusd_floor --parts RUNS  each part of a cycle, the floor's way and
//                               statusd's, own CPU per run, in turns: lines
//                               "PART FLOOR_US STATUSD_US", then "parts" for
//                               their sums, then "cycle" for whole cycles
//
// Both run in the device (bench/machine-guest), `cfg` found on PATH as
// statusd finds it, after statusd has written its reports.
#include "cycle.h"
#include "report.h"
#include "route.h"
#include "stamp.h"

#include "replace_file.h"
#include "unique_fd.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char report_dir[] = "/tmp";
constexpr int report_count = sizeof report_files / sizeof report_files[0];

// The record of each report file: its size as statusd last wrote it.
struct floor_reports {
    char path[report_count][PATH_MAX];
    record rec[report_count];
};

bool take_report_sizes(floor_reports &r)
{
    for (int i = 0; i < report_count; i++) {
        struct stat st;
        if (report_path(report_dir, report_files[i], r.path[i]) != 0 || ::stat(r.path[i], &st) != 0 ||
            st.st_size < 1 || static_cast<size_t>(st.st_size) >= sizeof r.rec[i].text) {
            std::fprintf(stderr, "statusd_floor: no report %s of statusd's\n", r.path[i]);
            return false;
        }
        r.rec[i].len = static_cast<size_t>(st.st_size);
        std::memset(r.rec[i].text, 'x', r.rec[i].len - 1);
        r.rec[i].text[r.rec[i].len - 1] = '\n';
    }
    return true;
}

void floor_report(const floor_reports &r, int i)
{
    replace_file(r.path[i], r.rec[i].view(), nullptr, durability::unsynced);
}

void floor_read(const char *name, std::span<char> value)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    unique_fd in(ends[0]), out(ends[1]);
    const pid_t pid = spawn_cfg("cfg", name, out.get());
    out.reset();
    if (pid < 0)
        return;
    size_t len = 0;
    while (len < value.size() - 1) {
        ssize_t got = ::read(in.get(), value.data() + len, value.size() - 1 - len);
        if (got <= 0 || std::memchr(value.data() + len, '\n', static_cast<size_t>(got)))
            break;
        len += static_cast<size_t>(got);
    }
    in.reset();
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

void floor_route()
{
    unique_fd table(::open(route_table_path, O_RDONLY | O_CLOEXEC));
    char text[4096];
    if (table)
        (void)!::read(table.get(), text, sizeof text);
}

struct floor_cycle {
    status_values v = {};
    floor_reports files;
    query_socket queries;

    void radio()
    {
        floor_read("AP_CHMODE", v.ap_chmode);
        floor_read("AP_STARTMODE", v.ap_startmode);
        floor_read("AP_SECMODE", v.ap_secmode);
        floor_read("AP_SSID", v.ap_ssid);
        floor_read("AP_PRIMARY_CH", v.ap_primary_ch);
        char mac[mac_text_size];
        get_if_mac_text(queries.get(), "ath0", mac);
        floor_read("TXPOWER", v.txpower);
        floor_report(files, 0);
    }
    void wan_queries()
    {
        struct sockaddr presence;
        char addr[addr_text_size], netmask[addr_text_size];
        get_if_hwaddr(queries.get(), "ath0", &presence);
        get_if_ipaddr(queries.get(), "ath0", addr);
        get_if_netmask(queries.get(), "ath0", netmask);
    }
    void wan()
    {
        floor_read("WAN_MODE", v.wan_mode);
        floor_read("WAN_IF_MODE", v.wan_if_mode);
        wan_queries();
        floor_route();
        floor_report(files, 1);
    }
    void lan_queries()
    {
        char addr[addr_text_size], netmask[addr_text_size];
        get_if_ipaddr(queries.get(), "br0", addr);
        get_if_netmask(queries.get(), "br0", netmask);
    }
    void lan()
    {
        char mac[mac_text_size];
        get_if_mac_text(queries.get(), "eth1", mac);
        floor_read("DHCP_SERVER", v.dhcp_server);
        lan_queries();
        floor_report(files, 2);
    }
    void sysinfo()
    {
        floor_read("AP_DEVICE_NAME", v.ap_device_name);
        floor_report(files, 3);
    }
    void run()
    {
        (void)::access(restart_trigger, F_OK);
        radio();
        wan();
        lan();
        sysinfo();
    }
    // The ten reads in the cycle's order, with the buffers statusd reads into.
    void reads(void (*read_one)(const char *, std::span<char>))
    {
        using s = std::span<char>;
        read_one("AP_CHMODE", s(v.ap_chmode));
        read_one("AP_STARTMODE", s(v.ap_startmode));
        read_one("AP_SECMODE", s(v.ap_secmode));
        read_one("AP_SSID", s(v.ap_ssid));
        read_one("AP_PRIMARY_CH", s(v.ap_primary_ch));
        read_one("TXPOWER", s(v.txpower));
        read_one("WAN_MODE", s(v.wan_mode));
        read_one("WAN_IF_MODE", s(v.wan_if_mode));
        read_one("DHCP_SERVER", s(v.dhcp_server));
        read_one("AP_DEVICE_NAME", s(v.ap_device_name));
    }
};

void statusd_read(const char *name, std::span<char> value)
{
    setting_read("cfg", name, value);
}

long long own_cpu_us()
{
    struct rusage u;
    ::getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000LL + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
}

// One part of the cycle, the floor's way and statusd's: the ten cfg reads,
// the routing table, the seven queries, the records and stamps, the four
// report files.
struct part {
    const char *what;
    long long floor_us = 0, statusd_us = 0;
};

// The two ways take turns run by run, so that a change of the machine's
// speed (the host's load) hits both alike.
template <typename Floor, typename Statusd>
void time_part(part &p, int runs, Floor floor_way, Statusd statusd_way)
{
    for (int i = 0; i < runs; i++) {
        long long t0 = own_cpu_us();
        floor_way();
        long long t1 = own_cpu_us();
        statusd_way();
        long long t2 = own_cpu_us();
        p.floor_us += t1 - t0;
        p.statusd_us += t2 - t1;
    }
}

int parts(floor_cycle &c, int runs)
{
    part all[5] = {{"reads"}, {"route"}, {"queries"}, {"records"}, {"files"}};
    time_part(all[0], runs, [&] { c.reads(floor_read); },
              [&] { c.reads(statusd_read); });
    char gw[addr_text_size];
    time_part(all[1], runs, floor_route, [&] { get_gateway(gw, "ath0", 0); });
    // statusd's queries are the floor's: the same functions.
    auto queries = [&] {
        char mac[mac_text_size];
        get_if_mac_text(c.queries.get(), "ath0", mac);
        c.wan_queries();
        get_if_mac_text(c.queries.get(), "eth1", mac);
        c.lan_queries();
    };
    time_part(all[2], runs, queries, queries);
    time_part(all[3], runs, [] {}, [&] {
        const char mac[] = "00:03:7f:12:34:56", addr[] = "192.168.10.20", mask[] = "255.255.255.0";
        radio_record(c.v.ap_chmode, c.v.ap_startmode, c.v.ap_secmode, c.v.ap_ssid, c.v.ap_primary_ch,
                     mac, c.v.txpower);
        wan_record(addr, mask, "192.168.10.1", mac);
        lan_record(c.v.dhcp_server, addr, mask, mac);
        const stamp uptime = get_uptime();
        const stamp now = get_date_time();
        sysinfo_record(uptime.text, now.text, c.v.ap_device_name);
    });
    time_part(all[4], runs, [&] { for (int i = 0; i < report_count; i++) floor_report(c.files, i); },
              [&] {
                  for (int i = 0; i < report_count; i++)
                      write_report(report_dir, report_files[i], c.files.rec[i]);
              });
    const int n = runs > 0 ? runs : 1;
    long long floor_sum = 0, statusd_sum = 0;
    for (const part &p : all) {
        std::printf("%s %lld %lld\n", p.what, p.floor_us / n, p.statusd_us / n);
        floor_sum += p.floor_us;
        statusd_sum += p.statusd_us;
    }
    std::printf("parts %lld %lld\n", floor_sum / n, statusd_sum / n);
    // The whole cycle: the floor's and statusd's own, from its restart
    // check to its pause.
    part whole{"cycle"};
    status_values values = {};
    const cycle_setup setup;
    query_socket statusd_queries;
    time_part(whole, runs, [&] { c.run(); }, [&] {
        (void)::access(restart_trigger, F_OK);
        report_cycle(values, setup, statusd_queries);
    });
    std::printf("%s %lld %lld\n", whole.what, whole.floor_us / n, whole.statusd_us / n);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool by_parts = argc == 3 && std::strcmp(argv[1], "--parts") == 0;
    if (argc > 2 && !by_parts) {
        std::fputs("usage: statusd_floor [CYCLES] | --parts RUNS\n", stderr);
        return 2;
    }
    // Children are waited for one by one, as in statusd.
    ::signal(SIGCHLD, SIG_DFL);
    floor_cycle c;
    if (!take_report_sizes(c.files))
        return 1;
    if (by_parts)
        return parts(c, std::atoi(argv[2]));
    const long cycles = argc == 2 ? std::atol(argv[1]) : -1;
    for (long i = 0; cycles < 0 || i < cycles; i++) {
        c.run();
        ::sleep(cycle_pause_s);
    }
    return 0;
}

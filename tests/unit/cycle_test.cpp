// The report cycle run in-process, with a scratch report directory and a
// stand-in cfg, on whatever interfaces this machine has (exact addresses
// are checked in the device sandbox).
#include "cycle.h"

#include "fake_cfg.h"
#include "host_file.h"
#include "report.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <malloc.h>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif
#ifdef UNDER_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr char mac[] = "[0-9a-f]{2}(:[0-9a-f]{2}){5}";
constexpr char addr[] = "[0-9]{1,3}(\\.[0-9]{1,3}){3}";

struct cycle_bench {
    temp_dir d;
    status_values values = {};
    cycle_setup setup;
    query_socket queries;
    std::string reports, cfg_values, cfg;

    cycle_bench()
    {
        reports = d / "reports";
        cfg_values = d / "values";
        cfg = d / "cfg";
        ::mkdir(reports.c_str(), 0755);
        ::mkdir(cfg_values.c_str(), 0755);
        d.put("cfg", fake_cfg_script(cfg_values));
        ::chmod(cfg.c_str(), 0755);
        setup.report_dir = reports.c_str();
        setup.cfg = cfg.c_str();
    }
    void set(const std::string &name, const std::string &bytes) { d.put("values/" + name, bytes); }
    void unset(const std::string &name) { ::unlink((cfg_values + "/" + name).c_str()); }
    std::string report(const char *name) { return d.get("reports/" + std::string(name)); }
    void run() { report_cycle(values, setup, queries); }
};

bool matches(const std::string &text, const std::string &pattern)
{
    return std::regex_match(text, std::regex(pattern));
}

TEST(report_cycle, writes_the_four_reports_from_the_settings)
{
    cycle_bench b;
    const char *names[] = {"AP_CHMODE", "AP_STARTMODE", "AP_SECMODE", "AP_SSID",
                           "AP_PRIMARY_CH", "TXPOWER", "DHCP_SERVER", "AP_DEVICE_NAME"};
    for (const char *n : names)
        b.set(n, std::string("v-") + n);
    b.set("WAN_MODE", "bridge");
    b.run();
    // The list statusd clears at start is what a cycle writes.
    std::vector<std::string> listed(std::begin(report_files), std::end(report_files));
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(list_dir(b.reports), listed);
    std::string radio = b.report(radio_report);
    EXPECT_TRUE(matches(radio, "v-AP_CHMODE,v-AP_STARTMODE,v-AP_SECMODE,v-AP_SSID,"
                               "v-AP_PRIMARY_CH," + std::string(mac) + ",v-TXPOWER\n"))
        << radio;
    EXPECT_EQ(b.report(wan_report), "0\n");
    // The value buffer holds 7 characters.
    std::string lan = b.report(lan_report);
    EXPECT_TRUE(matches(lan, "v-DHCP_," + std::string(addr) + "," + addr + "," + mac + "\n"))
        << lan;
    std::string sys = b.report(sysinfo_report);
    EXPECT_TRUE(matches(sys, "\\d{2,} \\d\\d:\\d\\d:\\d\\d,\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,"
                             "v-AP_DEVICE_NAME,v1\\.3,v1\\.03\\.02,[^,\n]+\n"))
        << sys;
}

TEST(report_cycle, settings_left_unanswered_keep_their_last_value)
{
    cycle_bench b;
    b.set("WAN_MODE", "none");
    b.set("AP_SSID", "Longer name\n");
    b.run();
    EXPECT_TRUE(matches(b.report(radio_report), ",,,Longer name\n,," + std::string(mac) + ",\n"));

    b.set("AP_SSID", "Short");
    b.set("TXPOWER", "17");
    b.unset("WAN_MODE");
    b.run();
    EXPECT_TRUE(matches(b.report(radio_report), ",,,Short,," + std::string(mac) + ",17\n"));

    b.unset("AP_SSID");
    b.unset("TXPOWER");
    b.set("WAN_MODE", "wis");
    b.run();
    EXPECT_TRUE(matches(b.report(radio_report), ",,,Short,," + std::string(mac) + ",17\n"));
    EXPECT_EQ(b.report(wan_report), "0\n");
}

TEST(report_cycle, a_hung_cfg_delays_but_does_not_stop_the_reports)
{
    cycle_bench b;
    b.setup.read_timeout_ms = 200;
    b.set("AP_SSID", "Office");
    b.run();
    b.set("AP_SSID.sh", "sleep 30\n");
    b.set("AP_DEVICE_NAME", "Lobby");
    ::unlink((b.reports + "/" + sysinfo_report).c_str());
    b.run();
    EXPECT_TRUE(matches(b.report(radio_report), ",,,Office,," + std::string(mac) + ",\n"));
    EXPECT_TRUE(matches(b.report(sysinfo_report), ".*,Lobby,v1\\.3,.*\n"));
    EXPECT_TRUE(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
}

struct usage {
    size_t fds, heap;
    long mapped_kb, vm_size_kb, vm_rss_kb;
};

// The address space as the program itself sees it; under an emulator this
// is the guest's, where the kernel's own counts below are the emulator's.
long mapped_kb()
{
    std::ifstream in("/proc/self/maps");
    std::string line;
    unsigned long long total = 0;
    while (std::getline(in, line)) {
        unsigned long long from = 0, to = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx", &from, &to) == 2)
            total += to - from;
    }
    return static_cast<long>(total / 1024);
}

long status_kb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    }
    return -1;
}

usage measure()
{
    usage u{};
    DIR *d = ::opendir("/proc/self/fd");
    while (d && ::readdir(d))
        u.fds++;
    if (d)
        ::closedir(d);
#ifdef UNDER_ASAN
    u.heap = __sanitizer_get_current_allocated_bytes();
#else
    u.heap = mallinfo2().uordblks;
#endif
    u.mapped_kb = mapped_kb();
    u.vm_size_kb = status_kb("VmSize:");
    u.vm_rss_kb = status_kb("VmRSS:");
    return u;
}

TEST(report_cycle, a_thousand_cycles_hold_no_more_descriptors_memory_or_children)
{
    cycle_bench b;
    b.set("AP_SSID", "Office\n");
    b.set("WAN_MODE", "wisp");
    b.set("WAN_IF_MODE", "pppoe");
    for (int i = 0; i < 10; i++)
        b.run();
    const usage before = measure();
    for (int i = 0; i < 1000; i++)
        b.run();
    const usage after = measure();
    EXPECT_EQ(after.fds, before.fds);
#ifdef UNDER_ASAN
    EXPECT_EQ(after.heap, before.heap);
#else
    // glibc counts chunks parked in its per-thread cache as in use, so the
    // figure wanders by a few hundred bytes; a leak of even one chunk per
    // cycle would add 1000 chunks of 32 bytes or more.
    EXPECT_LE(after.heap, before.heap + 4096);
#endif
#ifndef UNDER_ASAN
    // The sanitizer's own bookkeeping (freed blocks held back, shadow
    // memory) grows the process; its allocation count above still holds.
    EXPECT_EQ(after.mapped_kb, before.mapped_kb);
    if (std::abs(before.vm_size_kb - before.mapped_kb) < 1024) {
        // Resident pages may come and go by a few as the allocator trims.
        EXPECT_LE(after.vm_rss_kb, before.vm_rss_kb + 64);
    }
#endif
    EXPECT_TRUE(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
    EXPECT_TRUE(matches(b.report(radio_report), ",,,Office\n,," + std::string(mac) + ",\n"));
}

} // namespace

// statusd inside the simulated access point: real interfaces in the
// sandbox's network namespace, a stand-in cfg first on PATH, and the report
// files compared byte for byte.
#include "sandbox.h"
#include "fake_cfg.h"
#include "report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

namespace {

constexpr char radio_mac[] = "00:03:7f:12:34:ab";
constexpr char eth1_mac[] = "00:03:7f:ab:cd:ef";

// The radio with its address and default route, the Ethernet port, the LAN
// bridge and a PPP link with its peer.
constexpr char radio_if[] =
    "ip tuntap add dev ath0 mode tap\n"
    "ip link set dev ath0 address 00:03:7f:12:34:ab up\n"
    "ip addr add 192.168.10.20/24 dev ath0\n"
    "ip route add default via 192.168.10.1 dev ath0\n";
constexpr char eth1_if[] =
    "ip link add eth1 type veth peer name eth1p\n"
    "ip link set dev eth1 address 00:03:7f:ab:cd:ef\n";
constexpr char bridge_if[] =
    "ip link add br0 type bridge\n"
    "ip addr add 192.168.1.1/24 dev br0\n";
constexpr char ppp_if[] =
    "ip tuntap add dev ppp0 mode tun\n"
    "ip link set ppp0 up\n"
    "ip addr add 10.64.0.1 peer 10.64.0.254 dev ppp0\n";

// Shell helpers for the scripts: start statusd, wait for a whole cycle (the
// system report is written last), stop it, clear the reports.
constexpr char helpers[] =
    "set -e\n"
    "chmod +x /tmp/cfgbin/cfg\n"
    "export PATH=/tmp/cfgbin:$PATH\n"
    "start() { statusd < /dev/null > /dev/null 2>&1 & pid=$!; }\n"
    "wait_cycle() {\n"
    "  n=0\n"
    "  until [ -e /tmp/SysInfo.txt ]; do\n"
    "    n=$((n+1)); [ $n -le 200 ] || { echo 'no report cycle' >&2; exit 1; }\n"
    "    sleep 0.05\n"
    "  done\n"
    "}\n"
    "stop() { kill $pid; wait $pid || true; }\n"
    "clear_reports() { rm -f /tmp/Radio.txt /tmp/Wan.txt /tmp/Lan.txt /tmp/SysInfo.txt; }\n"
    "value() { printf \"$2\" > /tmp/cfgval/$1; }\n";

struct access_point {
    sandbox d;

    access_point()
    {
        d.files["/tmp/cfgbin/cfg"] = fake_cfg_script("/tmp/cfgval");
        d.files["/tmp/cfgval/.keep"] = "";
        for (const char *report : report_files)
            d.fetch.push_back(std::string("/tmp/") + report);
    }
    // What `cfg -v NAME` prints (exact bytes), or a script it runs instead.
    void value(const std::string &name, const std::string &bytes)
    {
        d.files["/tmp/cfgval/" + name] = bytes;
    }
    sandbox_result run(const std::string &interfaces, const std::string &body)
    {
        sandbox_result r = d.run(std::string(helpers) + interfaces + body);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    }
    // One cycle of a freshly started statusd.
    sandbox_result one_cycle(const std::string &interfaces)
    {
        return run(interfaces, "start\nwait_cycle\nstop\nls -a /tmp\n");
    }
};

std::string all_interfaces()
{
    return std::string(radio_if) + eth1_if + bridge_if + ppp_if;
}

const std::string sysinfo_tail = ",v1\\.3,v1\\.03\\.02,[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4} "
                                 "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n";
const std::string stamps = "\\d\\d \\d\\d:\\d\\d:\\d\\d,\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";

TEST(statusd, reports_settings_and_the_addresses_of_real_interfaces)
{
    access_point ap;
    ap.value("AP_CHMODE", "11NGHT20");
    ap.value("AP_STARTMODE", "standard");
    ap.value("AP_SECMODE", "WPA");
    ap.value("AP_SSID", "Office");
    ap.value("AP_PRIMARY_CH", "6");
    ap.value("TXPOWER", "17");
    ap.value("WAN_MODE", "bridge");
    ap.value("DHCP_SERVER", "1");
    ap.value("AP_DEVICE_NAME", "Lobby AP");
    sandbox_result r = ap.one_cycle(all_interfaces());
    EXPECT_EQ(r.file("/tmp/Radio.txt"),
              std::string("11NGHT20,standard,WPA,Office,6,") + radio_mac + ",17\n");
    EXPECT_EQ(r.file("/tmp/Wan.txt"), "0\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"), std::string("1,192.168.1.1,255.255.255.0,") + eth1_mac + "\n");
    std::string sys = r.file("/tmp/SysInfo.txt");
    EXPECT_TRUE(std::regex_match(sys, std::regex(stamps + ",Lobby AP" + sysinfo_tail))) << sys;
    // Each file was put in place whole: no temporary file is left beside it.
    EXPECT_EQ(r.out, ".\n..\nLan.txt\nRadio.txt\nSysInfo.txt\nWan.txt\ncfgbin\ncfgval\n");
}

TEST(statusd, wisp_mode_reports_the_wan_interface_over_radio_or_ppp)
{
    access_point ap;
    // One statusd per case, in one sandbox; the interfaces change between.
    sandbox_result r = ap.run(all_interfaces(), R"sh(
        one() { value WAN_MODE "$1"; value WAN_IF_MODE "$2"; start; wait_cycle; stop
                cat /tmp/Wan.txt; clear_reports; }
        one wisp ath0
        one 'wisp2\n' 'pppoe\n'
        one wisp pppoe0
        ip link set ath0 down
        one wisp ''
        ip link del ppp0
        one wisp pppoe
        ip link del ath0
        one wisp ''
    )sh");
    EXPECT_EQ(r.out,
              // The radio's address, netmask and default gateway.
              std::string("1,192.168.10.20,255.255.255.0,192.168.10.1,") + radio_mac + "\n" +
                  // PPP: the peer of the link's host route, the radio's MAC.
                  "1,10.64.0.1,255.255.255.255,10.64.0.254," + radio_mac + "\n" +
                  "1,10.64.0.1,255.255.255.255,10.64.0.254," + radio_mac + "\n" +
                  // A radio that is down keeps its address but has no route.
                  "1,192.168.10.20,255.255.255.0,0.0.0.0," + radio_mac + "\n" +
                  // No WAN interface at all.
                  "1,0.0.0.0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n"
                  "1,0.0.0.0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n");
}

TEST(statusd, wisp_mode_needs_wan_mode_to_begin_with_wisp)
{
    access_point ap;
    sandbox_result r = ap.run(all_interfaces(), R"sh(
        for mode in wispy 'wisp\n' WISP wis '' xwisp 'Wisp' ' wisp'; do
            value WAN_MODE "$mode"; start; wait_cycle; stop
            printf '%s|' "$(cat /tmp/Wan.txt)"; clear_reports
        done
    )sh");
    const std::string on = std::string("1,192.168.10.20,255.255.255.0,192.168.10.1,") + radio_mac;
    EXPECT_EQ(r.out, on + "|" + on + "|0|0|0|0|0|0|");
}

TEST(statusd, values_ending_in_line_ends_make_records_span_lines)
{
    access_point ap;
    for (const char *name : {"AP_CHMODE", "AP_STARTMODE", "AP_SECMODE", "AP_SSID",
                             "AP_PRIMARY_CH", "TXPOWER", "DHCP_SERVER", "AP_DEVICE_NAME"})
        ap.value(name, std::string(name).substr(0, 6) + "\nsecond line\n");
    ap.value("WAN_MODE", "wisp\n");
    ap.value("WAN_IF_MODE", "pppoe\n");
    sandbox_result r = ap.one_cycle(all_interfaces());
    EXPECT_EQ(r.file("/tmp/Radio.txt"),
              std::string("AP_CHM\n,AP_STA\n,AP_SEC\n,AP_SSI\n,AP_PRI\n,") + radio_mac +
                  ",TXPOWE\n\n");
    EXPECT_EQ(r.file("/tmp/Wan.txt"),
              std::string("1,10.64.0.1,255.255.255.255,10.64.0.254,") + radio_mac + "\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"),
              std::string("DHCP_S\n,192.168.1.1,255.255.255.0,") + eth1_mac + "\n");
    std::string sys = r.file("/tmp/SysInfo.txt");
    EXPECT_TRUE(std::regex_match(sys, std::regex(stamps + ",AP_DEV\n" + sysinfo_tail))) << sys;
}

TEST(statusd, long_values_are_cut_to_their_buffers)
{
    access_point ap;
    ap.value("AP_SSID", std::string(70, 's'));
    ap.value("AP_CHMODE", std::string(40, 'c') + "\n");
    ap.value("AP_SECMODE", std::string(31, 'w') + "\n");
    ap.value("TXPOWER", std::string(30, 't') + "\n");
    ap.value("DHCP_SERVER", "enabled-yes\n");
    ap.value("AP_DEVICE_NAME", std::string(64, 'n'));
    ap.value("WAN_MODE", std::string(40, 'w'));
    sandbox_result r = ap.one_cycle(all_interfaces());
    EXPECT_EQ(r.file("/tmp/Radio.txt"), std::string(31, 'c') + ",," + std::string(31, 'w') + "," +
                                            std::string(63, 's') + ",," + radio_mac + "," +
                                            std::string(30, 't') + "\n\n");
    EXPECT_EQ(r.file("/tmp/Wan.txt"), "0\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"), std::string("enabled,192.168.1.1,255.255.255.0,") + eth1_mac + "\n");
    std::string sys = r.file("/tmp/SysInfo.txt");
    EXPECT_TRUE(std::regex_match(sys, std::regex(stamps + "," + std::string(63, 'n') + sysinfo_tail)))
        << sys;
}

TEST(statusd, setting_values_are_written_literally_and_never_run)
{
    access_point ap;
    const std::string values[] = {
        "$(touch /tmp/pwned1)", "`touch /tmp/pwned2`", "\"; touch /tmp/pwned3; echo \"",
        "a\\nb\\\\c \\\" %s %n", "'$HOME' > /tmp/pwned4",
    };
    ap.value("AP_CHMODE", values[0]);
    ap.value("AP_SSID", values[1] + "\n");
    ap.value("AP_SECMODE", values[2]);
    ap.value("AP_STARTMODE", values[3]);
    ap.value("TXPOWER", values[4]);
    ap.value("AP_DEVICE_NAME", values[2]);
    ap.value("DHCP_SERVER", "$(id)");
    for (const char *f : {"/tmp/pwned1", "/tmp/pwned2", "/tmp/pwned3", "/tmp/pwned4"})
        ap.d.fetch.push_back(f);
    sandbox_result r = ap.one_cycle(all_interfaces());
    EXPECT_EQ(r.file("/tmp/Radio.txt"), values[0] + "," + values[3] + "," + values[2] + "," +
                                            values[1] + "\n,," + radio_mac + "," + values[4] + "\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"), std::string("$(id),192.168.1.1,255.255.255.0,") + eth1_mac + "\n");
    std::string sys = r.file("/tmp/SysInfo.txt");
    EXPECT_NE(sys.find(",\"; touch /tmp/pwned3; echo \",v1.3,"), std::string::npos) << sys;
    for (const char *f : {"/tmp/pwned1", "/tmp/pwned2", "/tmp/pwned3", "/tmp/pwned4"})
        EXPECT_FALSE(r.exists(f)) << f;
}

TEST(statusd, settings_are_empty_until_read_then_keep_their_last_value)
{
    access_point ap;
    ap.value("AP_CHMODE", "11NA");
    ap.value("AP_SSID", "A much longer name");
    ap.value("DHCP_SERVER", "1");
    sandbox_result r = ap.run(all_interfaces(), R"sh(
        start; wait_cycle; cat /tmp/Radio.txt /tmp/Lan.txt; clear_reports
        rm /tmp/cfgval/AP_CHMODE /tmp/cfgval/DHCP_SERVER
        value AP_SSID Short; value TXPOWER 20
        wait_cycle; stop
    )sh");
    EXPECT_EQ(r.out, std::string("11NA,,,A much longer name,,") + radio_mac + ",\n" +
                         "1,192.168.1.1,255.255.255.0," + eth1_mac + "\n");
    EXPECT_EQ(r.file("/tmp/Radio.txt"), std::string("11NA,,,Short,,") + radio_mac + ",20\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"), std::string("1,192.168.1.1,255.255.255.0,") + eth1_mac + "\n");
}

TEST(statusd, a_hung_cfg_is_given_up_and_ended_and_the_reports_go_on)
{
    access_point ap;
    ap.value("AP_SSID.sh", "sleep 60\n");
    ap.value("AP_CHMODE", "11NA");
    sandbox_result r = ap.run(all_interfaces(), R"sh(
        start; wait_cycle
        # Between cycles statusd has no child left, running or dead, and the
        # hung command's own child is gone too.
        kids=0; for s in /proc/[0-9]*/status; do
            grep -q "^PPid:[[:space:]]*$pid\$" "$s" 2> /dev/null && kids=$((kids+1))
        done
        sleepers=0; for c in /proc/[0-9]*/cmdline; do
            [ "$(tr '\0' ' ' < "$c" 2> /dev/null)" = "sleep 60 " ] && sleepers=$((sleepers+1))
        done
        echo "children $kids, sleepers $sleepers"
        stop
    )sh");
    EXPECT_EQ(r.out, "children 0, sleepers 0\n");
    EXPECT_EQ(r.file("/tmp/Radio.txt"), std::string("11NA,,,,,") + radio_mac + ",\n");
    EXPECT_TRUE(r.exists("/tmp/SysInfo.txt"));
}

TEST(statusd, lan_fields_fall_back_to_zeros)
{
    access_point ap;
    ap.value("DHCP_SERVER", "0");
    ap.value("WAN_MODE", "wisp");
    // eth1 missing (read right after the radio's address), br0 without an
    // address while the WAN interface has one.
    sandbox_result r = ap.run(std::string(radio_if) + "ip link add br0 type bridge\n", R"sh(
        start; wait_cycle; stop; cat /tmp/Lan.txt; clear_reports
        ip link del br0
        start; wait_cycle; stop
    )sh");
    EXPECT_EQ(r.out, "0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n");
    EXPECT_EQ(r.file("/tmp/Wan.txt"),
              std::string("1,192.168.10.20,255.255.255.0,192.168.10.1,") + radio_mac + "\n");
    EXPECT_EQ(r.file("/tmp/Lan.txt"), "0,0.0.0.0,0.0.0.0,00:00:00:00:00:00\n");
}

TEST(statusd, cfg_inherits_no_descriptor_of_statusd)
{
    // cfg counts its descriptors that lead to its output pipe or to a
    // socket, and looks for descriptor 7, which statusd inherited.
    access_point ap;
    ap.value("AP_DEVICE_NAME.sh", R"sh(
        out=$(readlink /proc/$$/fd/1); pipes=0; sockets=0
        for f in /proc/$$/fd/*; do
            t=$(readlink "$f")
            [ "$t" = "$out" ] && pipes=$((pipes+1))
            case $t in socket:*) sockets=$((sockets+1)) ;; esac
        done
        [ -e /proc/$$/fd/7 ] && inherited=7 || inherited=none
        printf '%s pipe, %s sockets, %s' $pipes $sockets $inherited
    )sh");
    sandbox_result r = ap.run(all_interfaces(), "statusd < /dev/null > /dev/null 2>&1 7< /tmp/cfgval/.keep &\n"
                                               "pid=$!\nwait_cycle\nstop\n");
    std::string sys = r.file("/tmp/SysInfo.txt");
    EXPECT_TRUE(std::regex_match(sys, std::regex(stamps + ",1 pipe, 0 sockets, none" + sysinfo_tail)))
        << sys;
}

TEST(statusd, a_restart_trigger_at_start_restarts_a_second_later_before_any_report)
{
    access_point ap;
    ap.d.files["/tmp/reboot"] = "";
    const std::string w = ap.d.work();
    // A watcher notes any report file that appears; the sandbox ends with
    // the restart, so what it wrote is all that is left to look at.
    sandbox_result r = ap.d.run(std::string(helpers) + all_interfaces() +
                               "(while :; do ls /tmp/*.txt >> " + shell_quote(w + "/seen") +
                               " 2> /dev/null || true; sleep 0.05; done) &\n"
                               "date +%s%N > " + shell_quote(w + "/started") + "\n"
                               "start; sleep 10; stop; echo 'no restart'\n");
    auto ended = std::chrono::system_clock::now();
    auto started = std::chrono::system_clock::time_point(std::chrono::duration_cast<
        std::chrono::system_clock::duration>(
        std::chrono::nanoseconds(std::stoll("0" + read_host_file(w + "/started")))));
    EXPECT_EQ(r.sandbox_status, 129);
    EXPECT_EQ(r.status, -1) << r.out << r.err;
    EXPECT_EQ(read_host_file(w + "/seen"), "");
    EXPECT_GE(ended - started, std::chrono::seconds(1));
    EXPECT_LT(ended - started, std::chrono::seconds(3));
}

TEST(statusd, a_refused_restart_delays_each_cycle_and_the_reports_go_on)
{
    // Without the right to restart, the request fails and the cycle goes on.
    access_point ap;
    ap.d.files["/tmp/reboot"] = "";
    ap.value("AP_SSID", "Office");
    sandbox_result r = ap.run(all_interfaces(), R"sh(
        t0=$(date +%s%N)
        setpriv --inh-caps=-sys_boot --bounding-set=-sys_boot statusd < /dev/null > /dev/null 2>&1 &
        pid=$!
        wait_cycle
        t1=$(date +%s%N)
        stop
        [ $(( (t1 - t0) / 1000000 )) -ge 1000 ] && echo 'waited a second'
        [ -e /tmp/reboot ] && echo 'trigger kept'
    )sh");
    EXPECT_EQ(r.sandbox_status, 0);
    EXPECT_EQ(r.out, "waited a second\ntrigger kept\n");
    EXPECT_EQ(r.file("/tmp/Radio.txt"), std::string(",,,Office,,") + radio_mac + ",\n");
    EXPECT_EQ(r.file("/tmp/Wan.txt"), "0\n");
}

} // namespace

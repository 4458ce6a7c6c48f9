// The simulated access point as ./run boots it.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace {

std::string project_root()
{
    std::string root = SIM_SANDBOX;
    return root.substr(0, root.rfind("/sim/"));
}

command_output boot(const std::string &image, const std::string &args)
{
    std::string cmd = shell_quote(project_root() + "/run") + " --bin " + shell_quote(BIN_DIR) +
                      " --image " + shell_quote(image) + " " + args + " 2>&1 < /dev/null";
    return run_command(cmd);
}

TEST(simulated_device, first_boot_reports_the_interfaces_and_default_settings)
{
    std::string image = make_work_dir() + "/flash.img";
    command_output r = boot(image, "--cycles 2");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("/tmp/Radio.txt: 11NGHT20,standard,WPA,Wireless-AP,6,"
                         "00:03:7f:12:34:56,17\n"), r.out.npos) << r.out;
    EXPECT_NE(r.out.find("/tmp/Wan.txt: 1,192.168.10.20,255.255.255.0,192.168.10.1,"
                         "00:03:7f:12:34:56\n"), r.out.npos) << r.out;
    EXPECT_NE(r.out.find("/tmp/Lan.txt: on,192.168.1.1,255.255.255.0,00:03:7f:ab:cd:ef\n"),
              r.out.npos) << r.out;
    std::regex sysinfo("/tmp/SysInfo.txt: \\d\\d+ \\d\\d:\\d\\d:\\d\\d,"
                       "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d,AP-3200,v1\\.3,v1\\.03\\.02,"
                       "[A-Z][a-z]{2} [ 0-9]\\d \\d{4} \\d\\d:\\d\\d:\\d\\d\n");
    EXPECT_TRUE(std::regex_search(r.out, sysinfo)) << r.out;
    // The shell copy leaves the pre-shared key out.
    EXPECT_NE(r.out.find("/tmp/buffconfig:\nSYS_CHECK=7340215968\n"), r.out.npos) << r.out;
    EXPECT_EQ(r.out.find("PSK_KEY=changeme"), r.out.npos) << r.out;
}

TEST(simulated_device, a_committed_setting_survives_the_next_boot)
{
    std::string image = make_work_dir() + "/flash.img";
    command_output first = boot(image, "--cycles 1 -c 'confstore w AP_SSID Persisted > /dev/null; "
                                   "confstore w TXPOWER 20 > /dev/null; confstore c'");
    ASSERT_EQ(first.status, 0) << first.out;
    command_output second = boot(image, "--cycles 1");
    ASSERT_EQ(second.status, 0) << second.out;
    EXPECT_NE(second.out.find(",Persisted,6,00:03:7f:12:34:56,20\n"), second.out.npos)
        << second.out;
    EXPECT_NE(second.out.find("AP_SSID=Persisted\n"), second.out.npos) << second.out;

    // A change that is not committed is gone after the restart.
    boot(image, "--cycles 1 -c 'confstore w AP_SSID Lost > /dev/null'");
    command_output third = boot(image, "--cycles 1");
    EXPECT_NE(third.out.find(",Persisted,"), third.out.npos) << third.out;
}

// As on the device: the restart boots the same flash again (the second -c
// runs then), and the device's end is no job killed by a signal.
TEST(simulated_device, a_restart_request_boots_again_on_the_same_flash)
{
    std::string image = make_work_dir() + "/flash.img";
    command_output r = boot(image, "--cycles 1 -c 'confstore w AP_SSID Restarted > /dev/null; "
                                   "confstore c > /dev/null; touch /tmp/reboot; sleep 10' "
                                   "-c 'echo \"second boot: $(confstore r AP_SSID)\"'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\n./run: the device restarts (/tmp/reboot); boot 2 on "), r.out.npos)
        << r.out;
    EXPECT_NE(r.out.find(",Restarted,6,00:03:7f:12:34:56,17\n"), r.out.npos) << r.out;
    EXPECT_NE(r.out.find("\nsecond boot: Restarted\n"), r.out.npos) << r.out;
    EXPECT_EQ(r.out.find("Hangup"), r.out.npos) << r.out;
}

// The project's scripts check their options before they do anything.
TEST(project_scripts, a_wrong_option_is_one_line_and_status_2)
{
    const struct {
        const char *script, *args;
    } cases[] = {
        {"run", "--cycles"},        {"run", "--cycles abc"},
        {"run", "--cycles 2 -c"},   {"run", "-c 'confstore s'"},
        {"run", "--image"},         {"run", "--bin /nonexistent"},
        {"run", "--bogus"},         {"run", "--cycles 1 --machine"},
        {"run", "--machine --cycles"}, {"run", "--machine -c x"},
        {"run", "--machine --timeout 9"}, {"run", "--machine --cycles 1 --timeout x"},
        {"run", "--machine --bogus"},
        {"sim/machine/machine", "--cycles 01"}, {"sim/machine/machine", "--log"},
        {"sim/machine/machine", "--glibc"},    {"sim/machine/build", "--programs"},
        {"test", "host nosuchstage"}, {"test", "--bogus"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.script) + " " + c.args);
        command_output r = run_command("timeout 20 " + shell_quote(project_root() + "/" + c.script) +
                                       " " + c.args + " 2>&1 > /dev/null < /dev/null");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        EXPECT_NE(r.out.find("usage: "), r.out.npos) << r.out;
    }
}

TEST(project_scripts, help_lists_every_option_on_standard_output)
{
    const struct {
        const char *script;
        std::vector<std::string> options;
    } cases[] = {
        {"run",
         {"--cycles N", "-c COMMANDS", "--image FILE", "--bin DIR", "--machine", "--glibc",
          "--musl", "--timeout S", "--log FILE", "--pidfile FILE", "--config-ro", "-- QEMU_ARGS",
          "--help"}},
        {"sim/machine/machine",
         {"--cycles N", "-c COMMANDS", "--image FILE", "--timeout S", "--log FILE",
          "--pidfile FILE", "--config-ro", "-- QEMU_ARGS"}},
        {"test", {"host", "sanitize", "mips", "musl", "machine", "machine-glibc", "fuzz"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        command_output r =
            run_command("timeout 20 " + shell_quote(project_root() + "/" + c.script) +
                        " --help 2> /dev/null < /dev/null");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: ", 0), 0u) << r.out;
        for (const std::string &option : c.options)
            EXPECT_NE(r.out.find(" " + option + " "), r.out.npos) << option;
    }
}

} // namespace

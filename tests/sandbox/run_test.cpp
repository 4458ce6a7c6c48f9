// The simulated access point as ./run boots it.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

command_output boot(const std::string &image, const std::string &args)
{
    std::string root = SIM_SANDBOX;
    root = root.substr(0, root.rfind("/sim/"));
    std::string cmd = shell_quote(root + "/run") + " --bin " + shell_quote(BIN_DIR) +
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

TEST(simulated_device, a_restart_request_ends_the_device_and_says_so)
{
    std::string image = make_work_dir() + "/flash.img";
    command_output r = boot(image, "--cycles 1 -c 'touch /tmp/reboot; sleep 10'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("The device restarted"), r.out.npos) << r.out;
}

} // namespace

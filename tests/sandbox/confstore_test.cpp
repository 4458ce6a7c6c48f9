// confstore as the device's scripts run it: output, status and file bytes.
#include "sandbox.h"
#include "device_libc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

const char config_path[] = "/tmp/.current_config";

sandbox with_config(const std::string &text)
{
    sandbox d;
    d.files[config_path] = text;
    d.fetch = {config_path};
    return d;
}

TEST(confstore_commands, malformed_command_lines_are_refused)
{
    sandbox d = with_config("A=1\n");
    const char *lines[] = {
        "confstore", "confstore ''", "confstore D", "confstore x", "confstore R A",
        "confstore r", "confstore r A B", "confstore w A", "confstore w A 1 2",
        "confstore s x", "confstore c x", "confstore d x", "confstore i x",
        "confstore y f p", "confstore -x", "confstore -help", "confstore --helps",
    };
    for (const char *line : lines) {
        SCOPED_TRACE(line);
        sandbox_result r = d.run(std::string(line) + "; echo \"status=$?\"");
        EXPECT_EQ(r.out, "Bye Bye!!!!\nstatus=0\n");
        EXPECT_EQ(r.file(config_path), "A=1\n");
    }
}

TEST(confstore_commands, only_the_first_letter_of_the_command_counts)
{
    sandbox d = with_config("AP_SSID=Office\nB=2\n");
    sandbox_result r = d.run("confstore read AP_SSID; confstore rx B; confstore r NONE; "
                            "confstore write B 3; confstore show");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Office\n2\n\nAP_SSID=Office\nB=3\n\n");
    EXPECT_EQ(r.err, "");
}

TEST(confstore_commands, missing_working_configuration)
{
    sandbox d;
    d.fetch = {config_path};
    sandbox_result r = d.run("confstore s; echo \"[$?]\"; confstore r A; confstore w A 1; "
                            "confstore y /etc/ath/default_config AP_SSID= AP_SSID");
    EXPECT_EQ(r.out, "Open failure!!![0]\n"
                     "openfile [/tmp/.current_config] error [No such file or directory]\n\n"
                     "OPEN CONFIG FALID\n"
                     "openfile [/tmp/.current_config] error [No such file or directory]\n");
    EXPECT_FALSE(r.exists(config_path));
}

// A loop of root's own links is an error of the file, reported in the C
// library's own words (which differ between the device's C libraries), not
// a link another user planted: every program tells the two apart alike.
TEST(confstore_commands, a_link_loop_for_the_working_configuration_is_reported)
{
    sandbox d;
    sandbox_result r = d.run("ln -s /tmp/loop /tmp/.current_config; ln -s /tmp/.current_config "
                            "/tmp/loop; confstore r A; confexport");
    const std::string loop = device_error_text(ELOOP);
    EXPECT_EQ(r.out, "openfile [/tmp/.current_config] error [" + loop + "]\n\nopen error");
    EXPECT_EQ(r.err, "confexport: reading /tmp/.current_config: " + loop + "\n");
}

TEST(confstore_commands, show_prints_the_whole_file_up_to_a_zero_byte)
{
    std::string big;
    for (int i = 0; big.size() < 10000; ++i)
        big += "NAME_" + std::to_string(i) + "=value " + std::to_string(i) + "\n";
    sandbox d = with_config(big);
    EXPECT_EQ(d.run("confstore s").out, big + "\n");

    d.files[config_path] = std::string("A=1\n\0B=2\n", 9);
    EXPECT_EQ(d.run("confstore s").out, "A=1\n\n");
}

// Callers know one failure line of w: every refusal prints it, with the
// reason on standard error, and changes nothing.
TEST(confstore_write, refusals_print_the_failure_line_and_leave_the_file_unchanged)
{
    const std::string name_rule = "Refused: a setting name must not be empty or hold \"=\" or a "
                                  "newline\n";
    const std::string lookup_rule = "Refused: a setting name must not start with white space or "
                                    "hold a blank, a tab, \"|\" or \"^\"\n";
    const struct {
        const char *args, *reason;
    } cases[] = {
        {"' AP_SSID' 1", lookup_rule.c_str()},
        {"'AP SSID' 1", lookup_rule.c_str()},
        {"'AP|SSID' 1", lookup_rule.c_str()},
        {"'AP^X' 1", lookup_rule.c_str()},
        {"\"$(printf 'AP\\tSSID')\" 1", lookup_rule.c_str()},
        {"'' 1", name_rule.c_str()},
        {"'A=B' 1", name_rule.c_str()},
        {"\"$(printf 'A\\nB')\" 1", name_rule.c_str()},
        {"A \"$(printf '1\\nROOT=x')\"", "Refused: a setting value must not hold a newline\n"},
        {"A \"$(printf '%0253d' 0)\"",
         "Refused: a setting line (NAME=VALUE and its newline) must not be longer than 255 "
         "bytes\n"},
    };
    sandbox d = with_config("AP_SSID=Office\nA=1\n");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        sandbox_result r = d.run(std::string("confstore w ") + c.args + "; echo \"[$?]\"");
        EXPECT_EQ(r.out, "OPEN CONFIG FALID\n[0]\n");
        EXPECT_EQ(r.err, c.reason);
        EXPECT_EQ(r.file(config_path), "AP_SSID=Office\nA=1\n");
    }
    // One byte shorter is a line of 255 bytes: set.
    sandbox_result r = d.run("confstore w A \"$(printf '%0252d' 0)\"");
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(r.file(config_path), "AP_SSID=Office\nA=" + std::string(252, '0') + "\n");
}

TEST(confstore_write, parallel_writers_lose_nothing)
{
    sandbox d = with_config("SYS_CHECK=7340215968\n");
    // Eight writers, twenty rounds each, every name different; a reader
    // meanwhile must never find the file missing.
    sandbox_result r = d.run(R"(
        for w in 1 2 3 4 5 6 7 8; do
            ( for i in $(seq 1 20); do confstore w "W${w}_$i" "v$w.$i" > /dev/null; done ) &
        done
        ( while [ ! -e /tmp/done ]; do [ -e /tmp/.current_config ] || echo missing; done ) &
        wait %1 %2 %3 %4 %5 %6 %7 %8
        touch /tmp/done; wait
        grep -c '^W[1-8]_[0-9]*=v' /tmp/.current_config
        ls -A /tmp | grep -v -e '^\.current_config' -e '^done$' || true
    )");
    EXPECT_EQ(r.out, "160\n");
    EXPECT_EQ(r.file(config_path).rfind("SYS_CHECK=7340215968\n", 0), 0u);
}

TEST(confstore_write, full_or_read_only_storage_keeps_the_old_text)
{
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "SETTING_" + std::to_string(i) + "=some value\n";  // about 2.4 KiB
    sandbox d;
    write_host_file(d.work() + "/seed", text);
    d.fetch = {config_path};
    const std::string prologue = "mount -t tmpfs -o size=8k small /tmp && cp " +
                                 shell_quote(d.work() + "/seed") + " /tmp/.current_config\n";

    sandbox_result full = d.run(prologue + R"sh(
        dd if=/dev/zero of=/tmp/fill bs=1k count=64 2> /dev/null
        confstore w SETTING_7 changed
        confstore w NEW_SETTING 1
        rm /tmp/fill; ls -A /tmp)sh");
    EXPECT_EQ(full.out, "OPEN CONFIG FALID\nOPEN CONFIG FALID\n.current_config\n.current_config.lock\n");
    EXPECT_EQ(full.err, "cannot change /tmp/.current_config: No space left on device\n"
                        "cannot change /tmp/.current_config: No space left on device\n");
    EXPECT_EQ(full.file(config_path), text);

    sandbox_result read_only = d.run(prologue + R"(
        mount -o remount,ro /tmp
        confstore w SETTING_7 changed; echo "[$?]")");
    // Not even the lock can be made: nothing runs without it, and the
    // callers learn it from the line they look for.
    EXPECT_EQ(read_only.out, "OPEN CONFIG FALID\n[0]\n");
    EXPECT_EQ(read_only.err,
              "Refused: the lock /tmp/.current_config.lock cannot be used: Read-only file system\n");
    EXPECT_EQ(read_only.file(config_path), text);
}

TEST(confstore_patch, carries_a_value_into_a_file_without_a_shell)
{
    sandbox d = with_config("AP_SSID=Office Net\nPSK_KEY=s3cret\n");
    const std::string target = "/etc/ath/we ird;$(touch /tmp/pwned)'.conf";
    d.files[target] = "ssid=old\n# ssid= set below\nchannel=6\nwpa_passphrase=x\n";
    d.fetch = {target, target + "TMP", "/tmp/pwned"};
    sandbox_result r = d.run("chmod 600 " + shell_quote(target) + "\n"
                            "confstore yank " + shell_quote(target) + " ssid= AP_SSID ignored\n"
                            "confstore y " + shell_quote(target) + " wpa_passphrase= PSK_KEY\n"
                            "stat -c %a " + shell_quote(target) + " " + shell_quote(target + "TMP"));
    const std::string after = "ssid=Office Net\nssid=Office Net\nchannel=6\nwpa_passphrase=s3cret\n";
    EXPECT_EQ(r.out, "600\n600\n");
    EXPECT_EQ(r.file(target), after);
    EXPECT_EQ(r.file(target + "TMP"), after);
    EXPECT_FALSE(r.exists("/tmp/pwned"));

    // An absent name patches with the empty value.
    d.files[target] = "ssid=old\nchannel=6\n";
    r = d.run("confstore y " + shell_quote(target) + " ssid= NOT_THERE");
    EXPECT_EQ(r.file(target), "ssid=\nchannel=6\n");
}

TEST(confstore_patch, a_file_it_cannot_replace_is_named_on_standard_error)
{
    sandbox d = with_config("A=1\n");
    sandbox_result r = d.run("mkdir /tmp/rw /tmp/ro; echo a=0 > /tmp/rw/f\n"
                            "mount --bind /tmp/rw /tmp/ro; mount -o remount,bind,ro /tmp/ro\n"
                            "confstore y /tmp/ro/f a= A; confstore y /tmp/none/f a= A; cat /tmp/ro/f");
    EXPECT_EQ(r.out, "a=0\n");
    EXPECT_EQ(r.err, "cannot replace /tmp/ro/f: Read-only file system\n"
                     "cannot replace /tmp/none/fTMP: No such file or directory\n");
}

} // namespace

// Reading a setting from the first line that `cfg -v NAME` prints.
#include "setting_read.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Writes an executable `cfg` with the given shell body into the directory.
std::string make_cfg(const temp_dir &d, const std::string &body)
{
    d.put("cfg", "#!/bin/sh\n" + body);
    ::chmod((d / "cfg").c_str(), 0755);
    return d / "cfg";
}

bool has_children()
{
    return !(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD);
}

// True once the process is gone or only a zombie awaiting its new parent.
bool ended(pid_t pid)
{
    for (int i = 0; i < 200; i++) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            return true;
        size_t paren = line.rfind(')');
        if (paren != std::string::npos && line.compare(paren + 2, 1, "Z") == 0)
            return true;
        ::usleep(10000);
    }
    return false;
}

TEST(setting_read, takes_the_first_line_with_its_line_end)
{
    temp_dir d;
    std::string cfg = make_cfg(d, "printf 'first\\nsecond\\n'\n");
    char value[32] = "old";
    EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value), 0);
    EXPECT_STREQ(value, "first\n");

    cfg = make_cfg(d, "printf 'no end'\n");
    EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value), 0);
    EXPECT_STREQ(value, "no end");

    cfg = make_cfg(d, "echo\n");
    EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value), 0);
    EXPECT_STREQ(value, "\n");

    // More output than a pipe holds: the rest is left unread.
    cfg = make_cfg(d, "echo big; yes | head -c 300000\n");
    EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value), 0);
    EXPECT_STREQ(value, "big\n");
    EXPECT_FALSE(has_children());
}

TEST(setting_read, nothing_printed_keeps_the_previous_value)
{
    temp_dir d;
    char value[16] = "kept";
    for (const char *body : {"exit 0\n", "exit 3\n", "echo oops >&2\n"}) {
        SCOPED_TRACE(body);
        std::string cfg = make_cfg(d, body);
        EXPECT_EQ(setting_read(cfg.c_str(), "WAN_MODE", value), -ENODATA);
        EXPECT_STREQ(value, "kept");
    }
    EXPECT_FALSE(has_children());
}

TEST(setting_read, a_line_too_long_is_cut_to_the_buffer_less_one)
{
    temp_dir d;
    struct row {
        std::string printed, value;
    };
    const std::string seven = "1234567";
    const row rows[] = {
        {"enabled-and-more\n", "enabled"},
        {seven + "\n", seven},          // the line end no longer fits
        {"123456\n", "123456\n"},       // it just fits
        {seven + "89", seven},
        {"x", "x"},                     // shorter than before: no remnants
    };
    char value[8] = "";
    for (const row &r : rows) {
        SCOPED_TRACE(r.printed);
        d.put("out", r.printed);
        std::string cfg = make_cfg(d, "cat " + d / "out" + "\n");
        EXPECT_EQ(setting_read(cfg.c_str(), "DHCP_SERVER", value), 0);
        EXPECT_EQ(std::string(value), r.value);
    }
    EXPECT_FALSE(has_children());
}

TEST(setting_read, runs_cfg_without_a_shell_with_option_and_name)
{
    temp_dir d;
    std::string cfg = make_cfg(d, "printf '%s|' \"$#\" \"$@\"; echo\n");
    char value[64] = "";
    EXPECT_EQ(setting_read(cfg.c_str(), "A B$(touch x)`id`;\"", value), 0);
    EXPECT_STREQ(value, "2|-v|A B$(touch x)`id`;\"|\n");

    // The product runs plain "cfg", found on PATH.
    std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (d.path() + ":" + old_path).c_str(), 1);
    int r = setting_read("cfg", "AP_SSID", value);
    ::setenv("PATH", old_path.c_str(), 1);
    EXPECT_EQ(r, 0);
    EXPECT_STREQ(value, "2|-v|AP_SSID|\n");
}

TEST(setting_read, a_missing_command_keeps_the_previous_value)
{
    temp_dir d;
    char value[16] = "kept";
    // The new process starts and cannot execute it: nothing is printed.
    EXPECT_EQ(setting_read((d / "nosuch").c_str(), "AP_SSID", value), -ENODATA);
    EXPECT_EQ(setting_read("nosuch-cfg-command", "AP_SSID", value), -ENODATA);
    EXPECT_STREQ(value, "kept");
    EXPECT_FALSE(has_children());
}

TEST(setting_read, ends_what_cfg_started_and_waits_the_bound_only_for_a_running_cfg)
{
    // cfg starts a helper that holds its output, then prints, hangs or
    // exits. Only a cfg still running without a whole line costs the bound;
    // however the read ends, the helper goes with it.
    temp_dir d;
    struct row {
        const char *what, *body;
        int result;
        const char *value;
        bool whole_bound;
    };
    const row rows[] = {
        {"silent", "wait\n", -ETIMEDOUT, "kept", true},
        {"half a line", "printf 'half'\nwait\n", -ETIMEDOUT, "kept", true},
        {"a line, then no end", "echo whole\nwait\n", 0, "whole\n", false},
        {"exits, the helper holding the output", "exit 0\n", -ENODATA, "kept", false},
        {"half a line, exits", "printf 'half'\n", 0, "half", false},
    };
    const auto bound = 1000ms;
    for (const row &r : rows) {
        SCOPED_TRACE(r.what);
        char value[16] = "kept";
        std::string cfg = make_cfg(d, "sleep 30 & echo $! > " + d / "pid" + "\n" + r.body);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value, bound.count()), r.result);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_STREQ(value, r.value);
        if (r.whole_bound) {
            EXPECT_GE(took, bound);
            EXPECT_LT(took, 5s);
        } else {
            EXPECT_LT(took, bound * 7 / 10);
        }
        EXPECT_FALSE(has_children());
        pid_t helper = std::atoi(d.get("pid").c_str());
        ASSERT_GT(helper, 0);
        EXPECT_TRUE(ended(helper)) << "the command's own child is still running";
    }
}

TEST(setting_read, the_command_inherits_no_descriptor_of_the_reader)
{
    // Counts the descriptors of cfg's shell that lead to the pipe on its
    // standard output: only descriptor 1 may.
    temp_dir d;
    std::string cfg = make_cfg(d, "n=0\n"
                                  "out=$(readlink /proc/$$/fd/1)\n"
                                  "for f in /proc/$$/fd/*; do\n"
                                  "  [ \"$(readlink \"$f\")\" = \"$out\" ] && n=$((n+1))\n"
                                  "done\n"
                                  "echo $n\n");
    char value[16] = "";
    EXPECT_EQ(setting_read(cfg.c_str(), "AP_SSID", value), 0);
    EXPECT_STREQ(value, "1\n");
}

} // namespace

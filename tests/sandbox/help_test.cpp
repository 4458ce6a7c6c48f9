// What each program says when asked how to use it, and that it does nothing
// else then.
#include "sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Everything a run could leave: the entries of /tmp and their times, the
// working configuration, the processes of the device (counted by a glob:
// a pipeline's second process may or may not have started when its first
// lists /proc).
const std::string snapshot = "snap() { ls -ld --full-time /tmp; ls -lAi --full-time /tmp; "
                             "cat /tmp/.current_config; set -- /proc/[0-9]*; echo $#; }\n";

TEST(help, each_program_prints_its_usage_and_does_nothing_else)
{
    const struct {
        const char *program;
        std::vector<std::string> names;  // what the usage must mention
    } programs[] = {
        {"confstore",
         {"r NAME", "s ", "w NAME VALUE", "y FILE PATTERN NAME", "i ", "c ", "d ",
          "/tmp/.current_config", "/dev/mtdblock4", "/etc/ath/default_config", "README"}},
        {"confexport", {"/tmp/buffconfig", "/tmp/.current_config", "README"}},
        {"statusd",
         {"/tmp/Radio.txt", "/tmp/Wan.txt", "/tmp/Lan.txt", "/tmp/SysInfo.txt", "/tmp/reboot",
          "cfg -v NAME", "README"}},
    };
    sandbox d;
    d.files["/tmp/.current_config"] = "SYS_CHECK=7340215968\nPSK_KEY=changeme-1234\n";
    for (const auto &p : programs) {
        for (const char *arg : {"-h", "--help"}) {
            SCOPED_TRACE(std::string(p.program) + " " + arg);
            sandbox_result r = d.run(snapshot + "a=$(snap)\ntimeout 10 " + p.program + " " + arg +
                                     "; echo \"status $?\" >&2\n"
                                     "[ \"$a\" = \"$(snap)\" ] || echo changed >&2\n");
            EXPECT_EQ(r.err, "status 0\n");
            EXPECT_EQ(r.out.rfind("Usage: " + std::string(p.program), 0), 0u) << r.out;
            EXPECT_EQ(r.out.find("changeme"), r.out.npos);
            for (const std::string &name : p.names)
                EXPECT_NE(r.out.find(name), r.out.npos) << name;
        }
    }
}

} // namespace

// The programs against another user's doing in the shared /tmp: planted
// links, a lock file taken or spoiled, runs killed half-way, odd targets.
#include "sandbox.h"
#include "flash_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string working = "/tmp/.current_config";
const std::string saved = "SYS_CHECK=7340215968\nADMIN_PASS=x;touch /tmp/PWNED\n";

// Runs `script` with a valid flash copy and a link of user 1000 planted at
// the working configuration, pointing at /etc/ath/target.
sandbox_result with_planted_link(const std::string &script)
{
    sandbox d;
    write_host_file(d.work() + "/flash.img", laid_out(saved));
    d.flash = d.work() + "/flash.img";
    d.files["/etc/ath/target"] = "#!/bin/sh\n";
    d.fetch = {"/etc/ath/target", "/tmp/buffconfig"};
    return d.run("chmod 600 /etc/ath/target\n"
                 "ln -s /etc/ath/target /tmp/.current_config && chown -h 1000 /tmp/.current_config\n" +
                 script);
}

} // namespace

TEST(planted_link, is_never_followed_by_root)
{
    const std::string refusal = "Refused: /tmp/.current_config is a symbolic link of another user\n";
    struct {
        const char *script, *out;
    } cases[] = {
        {"confstore i", ""},
        {"confstore w A 1", ""},
        {"confstore r A", "\n"},
        {"confstore s", ""},
        {"confstore c", ""},
        {"confstore y /etc/ath/default_config AP_SSID= AP_SSID", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        sandbox_result r = with_planted_link(std::string(c.script) + "\n");
        EXPECT_EQ(r.out, refusal + c.out);
        EXPECT_EQ(r.file("/etc/ath/target"), "#!/bin/sh\n");
    }
    sandbox_result r = with_planted_link("confexport; echo \" [$?]\"\n");
    EXPECT_EQ(r.out, "open error [255]\n");
    EXPECT_EQ(r.err, "confexport: reading /tmp/.current_config: "
                     "a symbolic link of another user, not followed\n");
    EXPECT_EQ(r.file("/tmp/buffconfig"), "<missing>");
}

TEST(lock_file, another_users_or_a_spoiled_one_is_replaced_a_directory_refused)
{
    sandbox d;
    d.files[working] = "A=1\n";
    d.fetch = {working};
    struct {
        const char *name, *setup, *out, *after;
    } cases[] = {
        {"dangling link", "ln -s /nowhere /tmp/.current_config.lock", "", "A=2\n"},
        {"held by another user",
         "touch /tmp/.current_config.lock; chown 1000 /tmp/.current_config.lock\n"
         "setpriv --reuid 1000 flock /tmp/.current_config.lock sleep 30 &\nsleep 0.3",
         "", "A=2\n"},
        {"directory", "mkdir -p /tmp/.current_config.lock/x",
         "Refused: the lock /tmp/.current_config.lock cannot be used: Is a directory\n", "A=1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sandbox_result r = d.run(std::string(c.setup) + "\ntimeout 5 confstore w A 2\n"
                                "stat -c '%u %a %F' /tmp/.current_config.lock\n");
        const std::string lock = std::string(c.after) == "A=2\n" ? "0 600 regular empty file\n"
                                                                 : "0 755 directory\n";
        EXPECT_EQ(r.out, c.out + lock);
        EXPECT_EQ(r.file(working), c.after);
    }
}

TEST(lock_file, held_past_ten_seconds_ends_the_command_with_nothing_changed)
{
    sandbox d;
    d.files[working] = "A=1\n";
    d.fetch = {working};
    sandbox_result r = d.run("confstore w A 0 > /dev/null\n"
                            "flock /tmp/.current_config.lock sleep 20 &\nsleep 0.3\n"
                            "t0=$(date +%s); confstore w A 2; t1=$(date +%s)\n"
                            "[ $((t1 - t0)) -ge 9 ] && [ $((t1 - t0)) -le 12 ] && echo bounded\n"
                            "kill $!\n");
    EXPECT_EQ(r.out, "Refused: another run holds the lock of the working configuration\nbounded\n");
    EXPECT_EQ(r.file(working), "A=0\n");
}

TEST(killed_writer, leaves_no_temporary_file_behind)
{
    sandbox d;
    std::string big;
    for (int i = 0; big.size() < 270000; ++i)
        big += "SETTING_" + std::to_string(i) + "=" + std::string(40, 'v') + "\n";
    d.files[working] = big;
    d.run("");
    // A file left by an older, killed run is swept by the next writer.
    sandbox_result r = d.run("touch /tmp/.current_config.aB3xY9\n"
                            "for i in $(seq 1 30); do\n"
                            "  confstore w SETTING_1 $i > /dev/null & p=$!\n"
                            "  sleep 0.0$((i % 9 + 1)); kill -9 $p; wait $p\n"
                            "done 2> /dev/null\n"
                            "confstore w SETTING_2 done; ls -A /tmp\n");
    EXPECT_EQ(r.out, ".current_config\n.current_config.lock\n");
}

TEST(patch_target, that_is_not_a_regular_file_is_refused_and_left_alone)
{
    sandbox d;
    d.files[working] = "AP_SSID=Office\n";
    sandbox_result r = d.run("mkfifo /tmp/fifo\n"
                            "timeout 5 confstore y /dev/null x AP_SSID; echo \"[$?]\"\n"
                            "timeout 5 confstore y /tmp/fifo x AP_SSID; echo \"[$?]\"\n"
                            "stat -c %F /dev/null /tmp/fifo; ls /tmp/fifoTMP /dev/nullTMP 2> /dev/null | wc -l\n");
    EXPECT_EQ(r.out, "Refused: /dev/null is not a regular file\n[0]\n"
                     "Refused: /tmp/fifo is not a regular file\n[0]\n"
                     "character special file\nfifo\n0\n");
}

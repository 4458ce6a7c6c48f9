// The programs against another user's doing in the shared /tmp: planted
// links, a lock file taken or spoiled, runs killed half-way, odd targets.
#include "sandbox.h"
#include "flash_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

const std::string working = "/tmp/.current_config";
// Runs a command as another user (nobody) in the shared /tmp.
const std::string as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
// One report cycle of a statusd started afresh (no cfg: the values stay empty).
const std::string statusd_cycle =
    "statusd < /dev/null > /dev/null 2>&1 & p=$!\n"
    "n=0; until [ -e /tmp/SysInfo.txt ] || [ $n -gt 100 ]; do n=$((n+1)); sleep 0.05; done\n"
    "kill $p; wait $p\n";

// `text` with each `mark` replaced by `with`.
std::string fill(std::string text, char mark, const std::string &with)
{
    for (size_t at; (at = text.find(mark)) != text.npos;)
        text.replace(at, 1, with);
    return text;
}

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
    // i writes a whole new file anyway: root's own takes the link's place.
    sandbox_result r = with_planted_link(
        "confstore i; stat -c '%u %F' /tmp/.current_config; confstore r ADMIN_PASS\n");
    EXPECT_EQ(r.out, "0 regular file\nx;touch /tmp/PWNED\n");
    EXPECT_EQ(r.file("/etc/ath/target"), "#!/bin/sh\n");
    // w answers every failure with the line its callers look for.
    r = with_planted_link("confstore w A 1\n");
    EXPECT_EQ(r.out, "OPEN CONFIG FALID\n");
    EXPECT_EQ(r.err, refusal);
    EXPECT_EQ(r.file("/etc/ath/target"), "#!/bin/sh\n");
    r = with_planted_link("confexport; echo \" [$?]\"\n");
    EXPECT_EQ(r.out, "open error [255]\n");
    EXPECT_EQ(r.err, "confexport: reading /tmp/.current_config: a symbolic link of another user\n");
    EXPECT_EQ(r.file("/tmp/buffconfig"), "<missing>");
}

// Before the boot's `i`, or after one that could not fill it, another user
// may create the working configuration; a file of root's is no better when
// others may write it (left by a run under umask 0) or when it has a second
// hard link (another user's name for any file of root's, where the kernel
// does not restrict hard links; root makes it here, since that restriction
// is the host's own setting). Root must never read such a file as its own
// (its settings would reach flash, the shell copy and the output), write
// through it, or wait on a FIFO; `i` replaces it. Under any umask, what the
// programs leave in /tmp is root's, written by root alone, with one name.
TEST(planted_file, only_roots_own_file_is_ever_its_working_configuration)
{
    const std::string text = "SYS_CHECK=7340215968\nAP_SSID=planted\n";
    const std::string put = "printf 'SYS_CHECK=7340215968\\nAP_SSID=planted\\n' > ";
    struct {
        const char *name, *why, *left;
        std::string plant;
    } kinds[] = {
        {"another user's file", "a file of another user", "65534 666 1 regular file\n",
         as_user + "sh -c \"umask 0; " + put + working + "\""},
        {"another user's fifo", "not a regular file", "65534 666 1 fifo\n",
         as_user + "mkfifo -m 666 " + working},
        {"root's file others may write", "a file that others may write", "0 666 1 regular file\n",
         "touch " + working + "; chmod 666 " + working + "\n" + as_user + "sh -c \"" + put + working + "\""},
        {"root's file with a second link", "a file with more than one hard link",
         "0 600 2 regular file\n",
         "mkdir -m 700 /tmp/private; " + put + "/tmp/private/key; chmod 600 /tmp/private/key\n"
         "ln /tmp/private/key " + working},
        {"root's own file", nullptr, "", put + working + "; chmod 644 " + working},
    };
    // In this order, so that root's own file takes every road the others are
    // refused: "@" stands for the refusal line, "#" for its reason.
    struct {
        const char *script, *out, *err;
    } commands[] = {
        {"confstore r AP_SSID", "@\n[0]\n", ""},
        {"confstore s", "@[0]\n", ""},
        {"confexport", "open error[255]\n", "confexport: reading /tmp/.current_config: #\n"},
        {"confstore y /etc/ath/target AP_SSID= AP_SSID", "@[0]\n", ""},
        {"confstore y /tmp/.current_config AP_SSID= AP_SSID", "@@[0]\n", ""},
        {"confstore c", "@[0]\n", ""},
        {"confstore w AP_SSID x", "OPEN CONFIG FALID\n[0]\n", "@"},
    };
    const std::string image = laid_out("SYS_CHECK=7340215968\nAP_SSID=Office\n");
    const std::string stat_working = "stat -c '%u %a %h %F' " + working + "\n";
    for (const char *mask : {"022", "0"}) {
        for (const auto &k : kinds) {
            SCOPED_TRACE(std::string(k.name) + ", umask " + mask);
            sandbox d;
            write_host_file(d.work() + "/flash.img", image);
            d.flash = d.work() + "/flash.img";
            d.files["/etc/ath/target"] = "AP_SSID=old\n";
            d.fetch = {"/dev/mtdblock4", "/tmp/buffconfig", "/etc/ath/target"};
            std::string script = std::string("umask ") + mask + "\n" + k.plant + "\n";
            std::string out, err;
            for (const auto &c : commands) {
                script += std::string("timeout 5 ") + c.script + "; echo \"[$?]\"\n" + stat_working;
                const std::string why = k.why ? k.why : "";
                const std::string refusal = "Refused: " + working + " is " + why + "\n";
                out += fill(c.out, '@', refusal) + k.left;
                err += fill(fill(c.err, '@', refusal), '#', why);
            }
            sandbox_result r = d.run(script + "timeout 5 confstore i; echo \"[$?]\"\n" +
                                     stat_working + "confstore r AP_SSID\n{\n" + statusd_cycle + "} 2> /dev/null\n"
                                     "echo --\nfind /tmp -maxdepth 1 -type f -printf '%f %U %m %n\\n'\n");
            const std::string tail = r.out.substr(std::min(r.out.find("--\n"), r.out.size()));
            const std::string shown = r.out.substr(0, r.out.size() - tail.size());
            if (k.why) {
                EXPECT_EQ(shown, out + "[0]\n0 644 1 regular file\nOffice\n");
                EXPECT_EQ(r.err, err);
                EXPECT_TRUE(r.file("/dev/mtdblock4") == image) << "the flash copy changed";
                EXPECT_FALSE(r.exists("/tmp/buffconfig"));
                EXPECT_EQ(r.file("/etc/ath/target"), "AP_SSID=old\n") << "y lost a value";
            }
            // Root's own file reaches every road: the check can see a leak.
            for (const std::string &road : {shown, r.file("/dev/mtdblock4"),
                                            r.file("/tmp/buffconfig"), r.file("/etc/ath/target")})
                EXPECT_EQ(road.find("planted") != road.npos, !k.why) << road.substr(0, 200);
            // Every file left in /tmp: root's, written by root alone, one name.
            std::istringstream files(tail.substr(tail.empty() ? 0 : 3));
            std::string name, seen;
            unsigned uid, mode, links;
            while (files >> name >> uid >> std::oct >> mode >> std::dec >> links) {
                seen += name + " ";
                EXPECT_EQ(uid, 0u) << name;
                EXPECT_EQ(mode & 022, 0u) << name;
                EXPECT_EQ(links, 1u) << name;
            }
            for (const char *left : {".current_config ", ".current_config.lock ", "SysInfo.txt "})
                EXPECT_NE(seen.find(left), seen.npos) << seen;
        }
    }
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
        {"second link", "mkdir -m 700 /tmp/private; touch /tmp/private/lock\n"
         "chmod 600 /tmp/private/lock; ln /tmp/private/lock /tmp/.current_config.lock", "", "A=2\n"},
        {"directory", "mkdir -p /tmp/.current_config.lock/x", "OPEN CONFIG FALID\n", "A=1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sandbox_result r = d.run(std::string(c.setup) + "\ntimeout 5 confstore w A 2\n"
                                "stat -c '%u %a %h %F' /tmp/.current_config.lock\n");
        const std::string lock = std::string(c.after) == "A=2\n" ? "0 600 1 regular empty file\n"
                                                                 : "0 755 3 directory\n";
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
    EXPECT_EQ(r.out, "OPEN CONFIG FALID\nbounded\n");
    EXPECT_EQ(r.err, "Refused: another run holds the lock of the working configuration\n");
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
    sandbox_result r = d.run("touch /tmp/.current_config.tmp~aB3xY9\n"
                            "for i in $(seq 1 30); do\n"
                            "  confstore w SETTING_1 $i > /dev/null & p=$!\n"
                            "  sleep 0.0$((i % 9 + 1)); kill -9 $p; wait $p\n"
                            "done 2> /dev/null\n"
                            "confstore w SETTING_2 done; ls -A /tmp\n");
    EXPECT_EQ(r.out, ".current_config\n.current_config.lock\n");
}

// The sweep takes only what bears the temporaries' own name and is root's:
// root's other files beside the working configuration and the reports, and
// another user's files of any name, stay.
TEST(killed_writer, the_sweep_leaves_every_other_file)
{
    sandbox d;
    d.files[working] = "A=1\n";
    sandbox_result r = d.run("touch /tmp/.current_config.backup /tmp/Radio.txt.backup "
                            "/tmp/.current_config.tmp~aB3xY9 /tmp/Radio.txt.tmp~aB3xY9\n" +
                            as_user + "touch /tmp/.current_config.tmp~zzzzzz\n"
                            "confstore w A 2\n" + statusd_cycle + "ls -A /tmp | grep -v txt$\n");
    EXPECT_EQ(r.out, ".current_config\n.current_config.backup\n.current_config.lock\n"
                     ".current_config.tmp~zzzzzz\nRadio.txt.backup\n");
}

// Runs of confexport are not serialised: the sweep takes a temporary of the
// shell copy only once no live run can be writing or renaming it.
TEST(killed_writer, confexport_sweeps_only_temporaries_no_live_run_owns)
{
    sandbox d;
    d.files[working] = "A=1\n";
    sandbox_result r = d.run("touch -d '-2 min' /tmp/buffconfig.tmp~aB3xY9\n"
                            "touch /tmp/buffconfig.tmp~cD4zW0\n" + as_user +
                            "touch -d '-2 min' /tmp/buffconfig.tmp~zzzzzz\n"
                            "confexport; ls -A /tmp\n");
    EXPECT_EQ(r.out, ".current_config\nbuffconfig\nbuffconfig.tmp~cD4zW0\n"
                     "buffconfig.tmp~zzzzzz\n");

    // Killed runs leave nothing that outlives the sweep, and runs beside
    // one another each put their copy in place.
    r = d.run("for i in $(seq 1 20); do\n"
              "  confexport > /dev/null & p=$!; sleep 0.00$((i % 9 + 1)); kill -9 $p; wait $p\n"
              "done 2> /dev/null\n"
              "for w in 1 2 3; do\n"
              "  ( for i in $(seq 1 150); do confexport || echo failed; done ) &\n"
              "done; wait\n"
              "for f in /tmp/buffconfig.tmp~*; do [ -e \"$f\" ] && touch -d '-2 min' \"$f\"; done\n"
              "confexport; ls -A /tmp\n");
    EXPECT_EQ(r.out, ".current_config\nbuffconfig\n");
}

// Where a program writes a whole new file anyway (the reset of `i`, the shell
// copy, a report), whatever another user planted at its name, or a file of
// root's that is not its own (others may write it, or it has a second
// link), is replaced by root's own file; nothing is written through it, and
// it lends no owner or mode.
TEST(planted_file, is_replaced_where_a_whole_new_file_is_written)
{
    struct {
        const char *name;
        std::string plant;
    } plants[] = {
        {"empty directory", as_user + "mkdir -m 777"},
        {"file", as_user + "sh -c 'umask 0; echo X=1 > \"$0\"'"},
        {"fifo", as_user + "mkfifo -m 666"},
        {"link", as_user + "ln -s /etc/ath/target"},
        {"root's file others may write", "sh -c 'umask 0; echo X=1 > \"$0\"'"},
        {"root's file with a second link", "ln /tmp/private/key"},
    };
    for (const auto &p : plants) {
        SCOPED_TRACE(p.name);
        sandbox d;
        write_host_file(d.work() + "/defaults", "AP_SSID=Office\n");
        d.defaults = d.work() + "/defaults";
        d.files["/etc/ath/target"] = "keep\n";
        d.fetch = {working, "/tmp/buffconfig", "/etc/ath/target", "/tmp/private/key"};
        std::string script = "mkdir -m 700 /tmp/private; echo X=1 > /tmp/private/key\n"
                             "chmod 600 /tmp/private/key\n";
        for (const char *path : {"/tmp/.current_config", "/tmp/buffconfig", "/tmp/Radio.txt"})
            script += p.plant + " " + path + "\n";
        sandbox_result r = d.run(script + "timeout 5 confstore i > /dev/null 2>&1\n"
                                         "timeout 5 confexport; echo \"[$?]\"\n" +
                                statusd_cycle +
                                "stat -c '%u %a %h %F' " + working + " /tmp/buffconfig /tmp/Radio.txt\n");
        EXPECT_EQ(r.out, "[0]\n0 644 1 regular file\n0 644 1 regular file\n0 644 1 regular file\n");
        EXPECT_EQ(r.file(working), "AP_SSID=Office\n");
        EXPECT_EQ(r.file("/tmp/buffconfig"), "AP_SSID=Office\n");
        EXPECT_EQ(r.file("/etc/ath/target"), "keep\n");
        EXPECT_EQ(r.file("/tmp/private/key"), "X=1\n");
    }
}

// y on the working configuration is a change of it like w's: it waits for
// the lock and leaves no second copy of every setting (the key included)
// beside it.
TEST(patch_target, the_working_configuration_is_patched_under_its_lock_and_left_without_a_copy)
{
    sandbox d;
    d.files[working] = "AP_SSID=old\nAP_DEVICE_NAME=AP-3200\nPSK_KEY=s3cret\n";
    d.files[working + "TMP"] = "PSK_KEY=older\n";
    d.fetch = {working};
    sandbox_result r = d.run("confstore w AP_SSID old > /dev/null\n"
                            "flock /tmp/.current_config.lock sleep 1 &\nsleep 0.2\n"
                            "t0=$(date +%s%N)\n"
                            "confstore y /tmp/.current_config AP_SSID= AP_DEVICE_NAME\n"
                            "t1=$(date +%s%N)\n"
                            "[ $(( (t1 - t0) / 1000000 )) -ge 500 ] && echo waited\n"
                            "ls -A /tmp\n");
    EXPECT_EQ(r.out, "waited\n.current_config\n.current_config.lock\n");
    EXPECT_EQ(r.file(working), "AP_SSID=AP-3200\nAP_DEVICE_NAME=AP-3200\nPSK_KEY=s3cret\n");
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

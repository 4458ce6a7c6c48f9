// The flash commands when the flash device is missing, unreadable, read-only
// or too small: saved settings are never destroyed, the device can still
// start from the defaults, and every failure is told on standard error.
#include "sandbox.h"
#include "flash_layout.h"
#include "loop_device.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const std::string working = "/tmp/.current_config";
const std::string saved = "SYS_CHECK=7340215968\nAP_SSID=Saved\nAP_CHMODE=11NGHT20\n";

const std::string defaults_taken_from_missing =
    "cannot use the flash copy /dev/mtdblock4: No such file or directory; "
    "the working configuration is taken from /etc/ath/default_config\n";

} // namespace

TEST(flash_restore, without_a_flash_device_starts_from_the_defaults_and_creates_none)
{
    sandbox d;
    d.files[working] = "OLD=1\n";
    d.fetch = {working, "/dev/mtdblock4"};
    auto r = d.run("confstore i");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "openfile [/dev/mtdblock4] error [No such file or directory]\n");
    EXPECT_EQ(r.err, defaults_taken_from_missing);
    EXPECT_EQ(r.file(working), shipped_defaults());
    EXPECT_FALSE(r.exists("/dev/mtdblock4"));
}

TEST(flash_restore, leaves_a_device_that_cannot_be_read_as_it_is)
{
    // A directory opens for reading but every read fails.
    sandbox d;
    const std::string dir = d.work() + "/unreadable";
    ::mkdir(dir.c_str(), 0755);
    write_host_file(dir + "/inside", saved);
    d.flash = dir;
    d.fetch = {working};
    auto r = d.run("confstore i");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot use the flash copy /dev/mtdblock4: Is a directory; "
                     "the working configuration is taken from /etc/ath/default_config\n");
    EXPECT_EQ(r.file(working), shipped_defaults());
    EXPECT_EQ(read_host_file(dir + "/inside"), saved);
}

TEST(flash_restore, without_defaults_either_says_so_and_changes_nothing)
{
    sandbox d;
    d.defaults = "none";
    d.files[working] = "OLD=1\n";
    d.fetch = {working};
    auto r = d.run("confstore i");
    EXPECT_EQ(r.err, defaults_taken_from_missing +
                         "cannot read /etc/ath/default_config: No such file or directory\n");
    EXPECT_EQ(r.file(working), "OLD=1\n");
}

TEST(flash_restore, reports_a_working_configuration_it_cannot_append_to)
{
    sandbox d;
    const std::string image = d.work() + "/flash.img";
    write_host_file(image, laid_out(saved));
    d.flash = image;
    auto r = d.run("mkdir /tmp/.current_config && confstore i");
    EXPECT_EQ(r.out, "File open error!\n");
    EXPECT_EQ(r.err, "cannot open /tmp/.current_config: Is a directory\n");
    EXPECT_EQ(read_host_file(image), laid_out(saved));
}

TEST(flash_commands, on_a_read_only_device_restore_and_write_nothing)
{
    // A valid copy restores, a commit with nothing to change needs no
    // writing; every command that would write says so and changes nothing.
    const std::string ro_line =
        "cannot write /dev/mtdblock4: Read-only file system; the flash copy is left as it was\n";
    const std::string invalid = laid_out("SYS_CHECK=1\nAP_SSID=Kept\n");
    // A commit that a cut ended before it changed the copy: its record
    // stands unfinished, which only a partition that takes writes finishes.
    std::string cut_early = laid_out(saved, backup_at) + backup_record(saved + "AP_MODE=x\n", 1, false);
    cut_early += std::string(262144 - cut_early.size(), '\xff');
    struct {
        const char *name;
        std::string partition, working, command, out, err, working_after;
    } cases[] = {
        {"i of a valid copy", laid_out(saved), "", "confstore i", "", "", saved},
        {"c unchanged", laid_out(saved), saved, "confstore c",
         "BUFF and E2P Same Line1 = 3, Line2 = 3\n", "", saved},
        {"c of a change", laid_out(saved), saved + "AP_MODE=x\n", "confstore c",
         "BUFF and E2P Different Line1 = 4, Line2 = 3\nErase mtdblack4 now......\n", ro_line,
         saved + "AP_MODE=x\n"},
        {"c with equal counts", laid_out(saved), "SYS_CHECK=7340215968\nAP_SSID=New\nA=1\n",
         "confstore c", "BUFF and E2P Same Line1 = 3, Line2 = 3\nFile open error!\n", ro_line,
         "SYS_CHECK=7340215968\nAP_SSID=New\nA=1\n"},
        {"d", laid_out(saved), saved, "confstore d",
         "Reset to default...\nErase mtdblack4 now......\n", ro_line, saved},
        {"reset of i", invalid, "OLD=1\n", "confstore i", "", ro_line, shipped_defaults()},
        {"i of a valid copy, a record unfinished", cut_early, "", "confstore i", "", "", saved},
        {"c unchanged, a record unfinished", cut_early, saved, "confstore c",
         "BUFF and E2P Same Line1 = 3, Line2 = 3\n", "", saved},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sandbox d;
        const std::string image = d.work() + "/flash.img";
        const std::string bytes = c.partition + std::string(262144, 'Z');
        write_host_file(image, bytes);
        loop_device ro(image, true);
        ASSERT_FALSE(ro.path().empty()) << "no loop device could be attached";
        d.flash = ro.path();
        if (!c.working.empty())
            d.files[working] = c.working;
        d.fetch = {working};
        auto r = d.run(c.command);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.file(working), c.working_after);
        EXPECT_EQ(ro.bytes(), bytes);
    }
}

TEST(flash_commit, without_a_flash_device_says_so_after_the_lines_it_prints)
{
    sandbox d;
    d.files[working] = "A=1\nB=2\n";
    auto r = d.run("confstore c; rm /tmp/.current_config; touch /tmp/.current_config; "
                   "confstore c");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "BUFF and E2P Different Line1 = 2, Line2 = 0\nErase mtdblack4 now......\n"
                     "BUFF and E2P Same Line1 = 0, Line2 = 0\nFile open error!\n");
    EXPECT_EQ(r.err, "cannot open /dev/mtdblock4: No such file or directory\n"
                     "cannot open /dev/mtdblock4: No such file or directory\n");
}

TEST(flash_reset, without_a_flash_device_stops_after_its_first_two_lines)
{
    sandbox d;
    auto r = d.run("confstore d");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Reset to default...\nErase mtdblack4 now......\n");
    EXPECT_EQ(r.err, "cannot open /dev/mtdblock4: No such file or directory\n");
}

TEST(flash_reset, on_a_partition_under_256_kib_keeps_its_last_block_for_the_backup_and_refuses_a_longer_text)
{
    sandbox d;
    const std::string image = d.work() + "/small.img";
    const std::string old = laid_out(saved).substr(0, 131072);
    write_host_file(image, old);
    loop_device loop(image);
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    d.flash = loop.path();
    auto r = d.run("confstore d");
    EXPECT_EQ(r.out, "Reset to default...\nErase mtdblack4 now......\n"
                     "Copy Default config file to mtdblack4......\n");
    EXPECT_EQ(r.err, "");
    // Its backup area is the second erase block of 64 KiB.
    EXPECT_EQ(loop.bytes().substr(0, 65536), laid_out(shipped_defaults(), 65536));
    EXPECT_EQ(loop.bytes().substr(65536, 16 + shipped_defaults().size()),
              backup_record(shipped_defaults(), 1, true).substr(0, 16 + shipped_defaults().size()));

    write_host_file(image, old);
    std::string big = saved;
    for (int i = 0; big.size() <= 131072; ++i)
        big += "KEY_" + std::to_string(i) + "=some value of a setting\n";
    d.files[working] = big;
    r = d.run("confstore c");
    EXPECT_EQ(r.err,
              "cannot write /dev/mtdblock4: No space left on device; the flash copy is left as it was\n");
    EXPECT_EQ(loop.bytes(), old);
}

TEST(flash_commit, on_a_loop_device_writes_sectors_only_when_the_image_changes)
{
    sandbox d;
    const std::string image = d.work() + "/flash.img";
    write_host_file(image, std::string(524288, '\0'));
    loop_device loop(image);
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    d.flash = loop.path();
    d.fetch = {working};

    auto r = d.run("confstore d && confstore i");
    ASSERT_EQ(r.file(working), shipped_defaults());
    const std::string after_reset = loop.bytes();
    long long before = loop.sectors_written();
    d.files[working] = shipped_defaults();
    r = d.run("confstore c && confstore d");
    EXPECT_EQ(loop.sectors_written(), before) << "an unchanged commit or reset wrote";
    EXPECT_EQ(loop.bytes(), after_reset);

    r = d.run("confstore w AP_SSID Changed && confstore c");
    EXPECT_GT(loop.sectors_written(), before);
    d.files.clear();
    r = d.run("confstore i && confstore r AP_SSID");
    EXPECT_EQ(r.out, "Changed\n");
}

TEST(flash_restore, refuses_a_fifo_as_the_defaults_or_the_flash_without_waiting)
{
    // Each would block a reader for ever; the lock would be held meanwhile.
    struct {
        const char *name, *setup, *command, *err;
    } cases[] = {
        {"defaults for i", "rm /etc/ath/default_config && mkfifo /etc/ath/default_config",
         "confstore i",
         "cannot read /etc/ath/default_config: No such device; the flash copy is left as it was\n"},
        {"defaults for d", "rm /etc/ath/default_config && mkfifo /etc/ath/default_config",
         "confstore d",
         "cannot read /etc/ath/default_config: No such device; the flash copy is left as it was\n"},
        {"flash for i", "rm /dev/mtdblock4 && mkfifo /tmp/f && ln -s /tmp/f /dev/mtdblock4",
         "confstore i",
         "cannot use the flash copy /dev/mtdblock4: No such device; "
         "the working configuration is taken from /etc/ath/default_config\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sandbox d;
        write_host_file(d.work() + "/flash.img", laid_out("SYS_CHECK=1\n"));
        d.flash = d.work() + "/flash.img";
        d.files[working] = "OLD=1\n";
        d.fetch = {working};
        auto r = d.run(std::string(c.setup) + " && timeout 10 " + c.command + "; echo $?");
        EXPECT_EQ(r.out.substr(r.out.size() - 2), "0\n") << r.out;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.file(working), std::string(c.name) == "flash for i" ? shipped_defaults() : "OLD=1\n");
    }
}

TEST(flash_restore, that_cannot_replace_the_working_configuration_leaves_it_and_says_so)
{
    sandbox d;
    write_host_file(d.work() + "/flash.img", laid_out(saved));
    d.flash = d.work() + "/flash.img";
    d.fetch = {working};
    auto r = d.run("mount -t tmpfs -o size=16k full /tmp && printf 'OLD=1\\n' > " + working +
                   " && dd if=/dev/zero of=/tmp/fill bs=1k 2> /dev/null; confstore i");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot replace /tmp/.current_config: No space left on device\n");
    EXPECT_EQ(r.file(working), "OLD=1\n");
}

TEST(flash_restore, after_a_cut_takes_the_backup_and_writes_the_copy_again)
{
    // The copy's marker was cleared by a save that the power cut short;
    // the backup area's newest record is the text that save wrote.
    sandbox d;
    const std::string image = d.work() + "/flash.img";
    const std::string text = saved + "AP_MODE=new\n", torn = "SYS_CHECK=0000000000\n" + text.substr(21);
    write_host_file(image, laid_out(torn, backup_at) + backup_record(saved, 1, true) +
                               backup_record(text, 2, false) + std::string(65536, '\xff'));
    d.flash = image;
    d.fetch = {working};
    auto r = d.run("confstore i && confstore r AP_MODE");
    EXPECT_EQ(r.out, "new\n");
    EXPECT_EQ(r.err, "the flash copy /dev/mtdblock4 was cut short while it was saved; the working "
                     "configuration and the flash copy are taken from its backup\n");
    EXPECT_EQ(r.file(working), text);
    EXPECT_EQ(read_host_file(image).substr(0, backup_at), laid_out(text, backup_at));
}

TEST(flash_restore, gives_the_defaults_once_other_software_invalidates_a_finished_save)
{
    // Software that invalidates the copy (to force a factory reset) gets
    // the defaults, not a record of a save that ended, nor of one that a
    // cut ended before it changed the copy (the boot took the old copy).
    const std::string next = saved + "AP_MODE=never-taken\n";
    const std::string cut_early = laid_out(saved, backup_at) + backup_record(saved, 1, true) +
                                  backup_record(next, 2, false);
    const std::string zero_4k = "dd if=/dev/zero of=/dev/mtdblock4 bs=4096 count=1 conv=notrunc 2> /dev/null";
    const std::string no_marker =
        "printf 'AP_SSID=Other\\n' | dd of=/dev/mtdblock4 conv=notrunc 2> /dev/null";
    const struct {
        const char *name, *prepare;
        std::string partition, invalidate;
    } cases[] = {
        {"first 4 KiB zeroed", "confstore c > /dev/null", laid_out(""), zero_4k},
        {"a text without the marker at 0", "confstore c > /dev/null", laid_out(""), no_marker},
        {"a save cut before it changed the copy", "rm /tmp/.current_config && confstore i", cut_early + std::string(65536, '\xff'),
         zero_4k},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sandbox d;
        write_host_file(d.work() + "/flash.img", c.partition);
        d.flash = d.work() + "/flash.img";
        d.files[working] = saved;
        d.fetch = {working, "/tmp/first"};
        auto r = d.run(std::string(c.prepare) + " && cp " + working + " /tmp/first && " +
                       c.invalidate + " && rm " + working + " && confstore i");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.file("/tmp/first"), saved);
        EXPECT_EQ(r.file(working), shipped_defaults());
    }
}

TEST(flash_restore, after_a_cut_appends_the_backup_behind_the_working_configuration)
{
    sandbox d;
    const std::string text = saved + "AP_MODE=new\n", torn = "SYS_CHECK=0000000000\n" + text.substr(21);
    write_host_file(d.work() + "/flash.img", laid_out(torn, backup_at) + backup_record(text, 2, false) +
                                                 std::string(65536, '\xff'));
    d.flash = d.work() + "/flash.img";
    d.files[working] = "PRESET=1";
    d.fetch = {working};
    auto r = d.run("confstore i");
    EXPECT_EQ(r.file(working), "PRESET=1\n" + text);
}

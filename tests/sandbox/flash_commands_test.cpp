// confstore c, d and i on the device, with the flash copy as a plain image
// file and as a real block device (a loop device): printed lines and device
// bytes compared exactly.
#include "sandbox.h"
#include "flash_layout.h"
#include "loop_device.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

constexpr size_t device_size = 524288;
const std::string beyond(device_size - 262144, 'Z');  // never written

std::string lines(const std::string &tag, int count, bool marker = true)
{
    std::string text = marker ? "SYS_CHECK=7340215968\n" : "";
    for (int i = marker ? 1 : 0; i < count; ++i)
        text += "KEY_" + std::to_string(i) + "=" + tag + "\n";
    return text;
}

const std::string working = "/tmp/.current_config";

enum class medium { file, loop };

class flash_command : public ::testing::TestWithParam<medium> {
protected:
    sandbox d;
    std::string image;
    std::unique_ptr<loop_device> loop;
    std::string held;  // the device's bytes before the test

    // The flash copy holds `head` from offset 0 and 'Z' bytes behind it.
    void flash_holds(const std::string &head)
    {
        image = d.work() + "/flash.img";
        held = head + std::string(device_size - head.size(), 'Z');
        write_host_file(image, held);
        d.flash = image;
        if (GetParam() == medium::loop) {
            loop = std::make_unique<loop_device>(image);
            ASSERT_FALSE(loop->path().empty()) << "no loop device could be attached";
            d.flash = loop->path();
        }
        d.fetch = {working};
    }
    std::string flash_bytes() const { return loop ? loop->bytes() : read_host_file(image); }
    // The copy holds `text` over fill up to the backup area, whose newest
    // record is `record` when given; behind 256 KiB nothing was written.
    void expect_copy(const std::string &text, const char *record = nullptr) const
    {
        const std::string bytes = flash_bytes();
        EXPECT_EQ(bytes.substr(0, backup_at), laid_out(text, backup_at));
        EXPECT_EQ(bytes.substr(262144), held.substr(262144));
        if (record)
            EXPECT_EQ(newest_backup(bytes), std::string(record) + " (finished)");
    }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(on, flash_command, ::testing::Values(medium::file, medium::loop),
                         [](const auto &info) {
                             return info.param == medium::file ? "image_file" : "loop_device";
                         });

TEST_P(flash_command, reset_prints_three_lines_and_lays_the_defaults_over_fresh_fill)
{
    flash_holds(std::string(300000, 'x'));
    auto r = d.run("confstore d");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Reset to default...\nErase mtdblack4 now......\n"
                     "Copy Default config file to mtdblack4......\n");
    EXPECT_EQ(r.err, "");
    // The old text reached into the backup area and past 256 KiB: the area
    // takes the defaults' record once the old copy is invalid; what lies
    // behind 256 KiB stays.
    const std::string area = backup_record(shipped_defaults(), 1, true);
    EXPECT_EQ(flash_bytes(), laid_out(shipped_defaults(), backup_at) + area +
                                 std::string(262144 - backup_at - area.size(), '\xff') +
                                 std::string(300000 - 262144, 'x') +
                                 std::string(device_size - 300000, 'Z'));
}

TEST_P(flash_command, commit_with_equal_counts_rewrites_the_text_in_place)
{
    // Five longer old lines: nothing of them may remain behind the new text.
    flash_holds(laid_out(lines("a-much-longer-old-value", 5)));
    d.files[working] = lines("new", 5);
    auto r = d.run("confstore c");
    EXPECT_EQ(r.out, "BUFF and E2P Same Line1 = 5, Line2 = 5\n");
    EXPECT_EQ(r.err, "");
    expect_copy(lines("new", 5), lines("new", 5).c_str());
}

TEST_P(flash_command, commit_with_equal_counts_stops_at_the_first_line_without_equals)
{
    flash_holds(laid_out(lines("old", 3)));
    d.files[working] = lines("new", 3) + "\n# tail\nLATE=1\n";
    auto r = d.run("confstore c");
    EXPECT_EQ(r.out, "BUFF and E2P Same Line1 = 3, Line2 = 3\n");
    expect_copy(lines("new", 3), lines("new", 3).c_str());
}

TEST_P(flash_command, commit_with_different_counts_copies_the_whole_file)
{
    flash_holds(laid_out(lines("old", 6)));
    const std::string text = lines("new", 5) + "\n# comment\nLATE=1\n";
    d.files[working] = text;
    auto r = d.run("confstore c");
    EXPECT_EQ(r.out, "BUFF and E2P Different Line1 = 5, Line2 = 6\nErase mtdblack4 now......\n"
                     "Copy tmp config file to mtdblock4......\n");
    EXPECT_EQ(r.err, "");
    expect_copy(text, text.c_str());
}

TEST_P(flash_command, a_long_line_loses_no_later_setting_through_commit_and_restore)
{
    // A long line from the defaults, then one value changed behind it.
    const std::string long_line = "LONG=" + std::string(300, 'v') + "X=1\n";
    std::string defaults = lines("old", 2) + long_line + "AFTER=1\nLAST=\xff";
    write_host_file(d.work() + "/defaults", defaults);
    d.defaults = d.work() + "/defaults";
    flash_holds(laid_out(""));
    auto r = d.run("confstore i && confstore w AFTER 2 && confstore c && "
                   "rm /tmp/.current_config && confstore i && confstore r AFTER && confstore r X");
    // The long line counts once; the text written to flash ends its last line.
    EXPECT_EQ(r.out, "BUFF and E2P Same Line1 = 5, Line2 = 5\n2\n\n");
    const std::string after = lines("old", 2) + long_line + "AFTER=2\nLAST=\xff\n";
    EXPECT_EQ(r.file(working), after);
    expect_copy(after, after.c_str());
}

TEST_P(flash_command, commit_of_an_unchanged_configuration_leaves_the_device_as_it_is)
{
    flash_holds(laid_out(lines("same", 8)));
    d.files[working] = lines("same", 8);
    long long before = loop ? loop->sectors_written() : 0;
    auto r = d.run("confstore c");
    EXPECT_EQ(r.out, "BUFF and E2P Same Line1 = 8, Line2 = 8\n");
    EXPECT_EQ(flash_bytes(), laid_out(lines("same", 8)) + beyond);
    if (loop) {
        EXPECT_EQ(loop->sectors_written(), before);
    }
}

TEST_P(flash_command, commit_without_a_working_configuration_keeps_the_flash_copy)
{
    flash_holds(laid_out(lines("saved", 4)));
    auto r = d.run("confstore c");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open /tmp/.current_config: No such file or directory; "
                     "the flash copy is left as it was\n");
    EXPECT_EQ(flash_bytes(), laid_out(lines("saved", 4)) + beyond);
}

TEST_P(flash_command, changed_value_survives_commit_and_restore_with_equal_counts)
{
    flash_holds(laid_out(shipped_defaults()));
    auto r = d.run("confstore i && confstore w AP_SSID Office-Net && confstore c && "
                   "rm /tmp/.current_config && confstore i && confstore r AP_SSID");
    EXPECT_EQ(r.out, "BUFF and E2P Same Line1 = 56, Line2 = 56\nOffice-Net\n");
    EXPECT_EQ(r.err, "");
    std::string expected = shipped_defaults();
    expected.replace(expected.find("AP_SSID=Wireless-AP"), 19, "AP_SSID=Office-Net");
    EXPECT_EQ(r.file(working), expected);
    expect_copy(expected, expected.c_str());
}

TEST_P(flash_command, restore_appends_the_setting_lines_behind_the_working_configuration)
{
    const std::string text = lines("saved", 3) + "\nHIDDEN=1\n";
    flash_holds(laid_out(text));
    d.files[working] = "PRESET=1\n";
    d.fetch.push_back("/tmp/first");
    auto r = d.run("confstore i && cp /tmp/.current_config /tmp/first && confstore i");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.file("/tmp/first"), "PRESET=1\n" + lines("saved", 3));
    // A second restore doubles every line.
    EXPECT_EQ(r.file(working), "PRESET=1\n" + lines("saved", 3) + lines("saved", 3));
    EXPECT_EQ(flash_bytes(), laid_out(text) + beyond);
}

TEST_P(flash_command, restore_ends_a_last_working_line_before_appending)
{
    flash_holds(laid_out(lines("saved", 2)));
    d.files[working] = "PRESET=1";
    auto r = d.run("confstore i");
    EXPECT_EQ(r.file(working), "PRESET=1\n" + lines("saved", 2));
}

TEST_P(flash_command, restore_finds_a_marker_behind_a_blank_line_but_copies_up_to_it)
{
    const std::string text = "A=1\nB=2\nC=3\n\nSYS_CHECK=7340215968\n";
    flash_holds(laid_out(text));
    auto r = d.run("confstore i");
    EXPECT_EQ(r.file(working), "A=1\nB=2\nC=3\n");
    EXPECT_EQ(flash_bytes(), laid_out(text) + beyond);
}

TEST_P(flash_command, restore_gives_a_last_line_without_newline_back_whole)
{
    // Text lengths of every residue mod 4; one of them ends before a 0xFF.
    for (const std::string last : {"Z=1", "Z=12", "Z=123", "Z=1234"}) {
        SCOPED_TRACE(last);
        const std::string text = "SYS_CHECK=7340215968\nA=1\n" + last;
        flash_holds(laid_out(text));
        auto r = d.run("confstore i");
        EXPECT_EQ(r.file(working), text + "\n");
        loop.reset();
    }
}

TEST_P(flash_command, restore_accepts_the_marker_with_blanks_around_it)
{
    const std::string text = "SYS_CHECK=  7340215968 \t\nA=1\n";
    flash_holds(laid_out(text));
    auto r = d.run("confstore i");
    EXPECT_EQ(r.file(working), text);
}

TEST_P(flash_command, restore_resets_a_copy_without_the_marker_to_the_defaults)
{
    struct {
        const char *name;
        std::string head;
    } cases[] = {
        {"other value", laid_out("SYS_CHECK=7340215969\nA=1\n")},
        {"empty value", laid_out("SYS_CHECK=\nA=1\n")},
        {"no marker line", laid_out("A=1\nB=2\n")},
        {"erased device", laid_out("")},
        {"cleared marker", laid_out("SYS_CHECK=0000000000\nA=1\n")},
        {"marker behind 256 KiB", laid_out("A=1\n") + "SYS_CHECK=7340215968\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        flash_holds(c.head);
        d.files[working] = "OLD=1\n";
        auto r = d.run("confstore i");
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.file(working), shipped_defaults());
        // No record of an older text is left to come back.
        expect_copy(shipped_defaults());
        const std::string newest = newest_backup(flash_bytes());
        EXPECT_TRUE(newest == "<none>" || newest == shipped_defaults() + " (finished)");
        loop.reset();
    }
}

TEST_P(flash_command, reset_without_a_defaults_file_keeps_the_flash_copy)
{
    flash_holds(laid_out(lines("saved", 4)));
    d.defaults = "none";
    auto r = d.run("confstore d");
    EXPECT_EQ(r.out, "Reset to default...\nErase mtdblack4 now......\n"
                     "Copy Default config file to mtdblack4......\n");
    EXPECT_EQ(r.err, "cannot read /etc/ath/default_config: No such file or directory; "
                     "the flash copy is left as it was\n");
    EXPECT_EQ(flash_bytes(), laid_out(lines("saved", 4)) + beyond);
}

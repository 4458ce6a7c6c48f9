// The flash device of the kinds file and block under the save that every
// command runs (flash_save): the layout it leaves on a plain file and a
// loop device, what it leaves alone, what it refuses, and cuts between and
// inside its operations (the device wrapped so that power goes at a chosen
// operation): the next restore finds the old settings or the new ones.
#include "flash/device.h"
#include "flash/save.h"

#include "read_file.h"

#include "flash_layout.h"
#include "flash_restorer.h"
#include "loop_device.h"
#include "temp_dir.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

// The device, with power going inside operation `cut_op` (half of a
// program lands; an erase is lost whole; nothing after it happens).
struct cut_device {
    flash_device &a;
    int cut_op = -1, ops = 0;

    int read(size_t at, std::span<char> out) { return a.read(at, out); }
    int writable() { return a.writable(); }
    int sync() { return a.sync(); }
    int done() { return a.done(); }
    bool power_goes() { return ops++ >= cut_op && cut_op >= 0; }
    int erase(size_t at) { return power_goes() ? -ECANCELED : a.erase(at); }
    int program(size_t at, std::span<const char> in)
    {
        if (!power_goes())
            return a.program(at, in);
        if (ops - 1 == cut_op)  // nothing after the cut lands
            a.program(at, in.first(in.size() / 2));
        return -ECANCELED;
    }
};

// Saves `text` to `device`, power going at operation `cut` (-1: never).
// The count of operations, or -1 when the save failed otherwise.
int save(const std::string &device, const std::string &text, int cut = -1)
{
    flash_partition p;
    if (p.open(device.c_str()) != 0)
        return -1;
    cut_device c{p.dev, cut};
    heap_text t;
    if (t.append(std::string_view(text)) != 0)
        return -1;
    const flash_result r = flash_save(c, p.g, p.bytes.writable(), p.holes, t);
    return r.ok() || (r.err == ECANCELED && cut >= 0) ? c.ops : -1;
}

std::string settings(const std::string &tag, int count)
{
    std::string text = "SYS_CHECK=7340215968\n";
    for (int i = 1; i < count; ++i)
        text += "KEY_" + std::to_string(i) + "=" + tag + "-" + std::to_string(i * 37) + "\n";
    return text;
}

const std::string config = "SYS_CHECK=7340215968\nAP_SSID=Office\nAP_CHMODE=11NGHT20\n";
const std::string old_text = settings("old-value", 40), new_text = settings("new", 60);

// Every cut of a commit of new_text over old_text (laid out by `lay`, as
// today's release left it, then as this one leaves it) restores old or new.
void check_every_cut(flash_restorer &f, const std::string &device,
                     const std::function<void(const std::string &)> &lay)
{
    for (const std::string &before : {laid_out(old_text), laid_out_erased_backup(old_text)}) {
        lay(before);
        const int ops = save(device, new_text);
        ASSERT_GT(ops, 3);
        for (int cut = 0; cut <= ops; ++cut) {
            SCOPED_TRACE("cut at operation " + std::to_string(cut) + " of " + std::to_string(ops));
            lay(before);
            ASSERT_GE(save(device, new_text, cut), 0);
            const std::string got = f.restore(device);
            EXPECT_TRUE(got == old_text || got == new_text) << got.substr(0, 100);
        }
    }
}

} // namespace

TEST(flash_device, lays_text_fill_and_backup_and_leaves_what_lies_beyond)
{
    temp_dir dir;
    dir.put("flash", std::string(524288, 'Z'));
    // What stood at the backup area's place goes once the copy is invalid
    // (no record there to lose): the area takes the text's record.
    ASSERT_GE(save(dir / "flash", config), 0);
    EXPECT_EQ(newest_backup(dir.get("flash")), config + " (finished)");
    const std::string next = config + "AP_MODE=ap\n";
    ASSERT_GE(save(dir / "flash", next), 0);
    const std::string bytes = dir.get("flash");
    EXPECT_EQ(bytes.substr(0, backup_at), laid_out(next, backup_at));
    EXPECT_EQ(newest_backup(bytes), next + " (finished)");
    EXPECT_EQ(bytes.substr(262144), std::string(262144, 'Z'));

    // A file shorter than a partition counts as erased flash of 256 KiB.
    dir.put("empty", "");
    ASSERT_GE(save(dir / "empty", config), 0);
    const std::string expected = laid_out(config, backup_at) + backup_record(config, 1, true);
    EXPECT_EQ(dir.get("empty").substr(0, expected.size()), expected);
}

TEST(flash_device, leaves_a_device_that_holds_the_image_unwritten)
{
    temp_dir dir;
    dir.put("flash", laid_out(config));
    struct stat before, after;
    ASSERT_EQ(::stat((dir / "flash").c_str(), &before), 0);
    EXPECT_EQ(save(dir / "flash", config), 0);
    ASSERT_EQ(::stat((dir / "flash").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

TEST(flash_device, refuses_a_text_longer_than_the_block_device)
{
    temp_dir dir;
    const std::string old = laid_out(config).substr(0, 131072);
    dir.put("small.img", old);
    loop_device loop(dir / "small.img");
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    EXPECT_EQ(save(loop.path(), "SYS_CHECK=7340215968\n" + std::string(131072, 'A') + "=1\n"), -1);
    EXPECT_EQ(loop.bytes(), old);
}

TEST(flash_device, refuses_what_is_neither_a_file_nor_a_device_without_waiting)
{
    temp_dir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    flash_device a;
    EXPECT_EQ(a.open((dir / "fifo").c_str()), -ENODEV);
    EXPECT_EQ(open_regular_input((dir / "fifo").c_str()), -ENODEV);
    EXPECT_EQ(open_regular_input(dir.path().c_str()), -EISDIR);
}

TEST(flash_device, leaves_old_or_new_at_every_cut_on_a_plain_file)
{
    flash_restorer f(config);
    const std::string flash = f.dir / "flash";
    check_every_cut(f, flash, [&](const std::string &img) { f.dir.put("flash", img); });
}

TEST(flash_device, leaves_old_or_new_at_every_cut_on_a_loop_device)
{
    flash_restorer f(config);
    f.dir.put("flash.img", std::string(524288, 'Z'));
    loop_device loop(f.dir / "flash.img");
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    check_every_cut(f, loop.path(), [&](const std::string &img) {
        unique_fd fd(::open(loop.path().c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(fd.get(), img.data(), img.size(), 0), static_cast<ssize_t>(img.size()));
        ASSERT_EQ(::fsync(fd.get()), 0);
    });
}

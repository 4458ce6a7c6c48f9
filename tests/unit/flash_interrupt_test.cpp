// A commit or reset cut short at any point, on a plain file and on a loop
// device: the next restore finds the old settings, the new ones, or (from an
// invalid copy) the defaults, never a mix of two texts.
#include "flash.h"
#include "flash_device.h"

#include "loop_device.h"
#include "flash_layout.h"
#include "temp_dir.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string settings(const std::string &tag, int count)
{
    std::string text = "SYS_CHECK=7340215968\n";
    for (int i = 1; i < count; ++i)
        text += "KEY_" + std::to_string(i) + "=" + tag + "-" + std::to_string(i * 37) + "\n";
    return text;
}

// What a restore gives back of a flash text: its lines before a blank one.
std::string up_to_blank_line(const std::string &text)
{
    size_t blank = text.find("\n\n");
    return blank == std::string::npos ? text : text.substr(0, blank + 1);
}

const std::string old_text = settings("old-value", 40);
const std::string defaults_text = "SYS_CHECK=7340215968\nORIGIN=factory\n";

const std::string old_image = laid_out(old_text);
// The old text over flash that was erased to 0xFF rather than filled: the
// new image differs from it in every fill group, so it is written whole.
const std::string old_over_erased = old_text + std::string(262144 - old_text.size(), '\xff');

struct scenario {
    const char *name;
    const std::string &old;  // the device's bytes when the write starts
    std::string working;     // the working configuration then
    bool reset;              // d instead of c
    std::string next;        // the flash text a whole write leaves
};

const scenario scenarios[] = {
    {"commit with equal counts", old_image, settings("new", 40), false, settings("new", 40)},
    {"commit with different counts", old_image, settings("n", 25) + "\n# kept\n", false,
     settings("n", 25) + "\n# kept\n"},
    {"reset", old_image, settings("new", 40), true, defaults_text},
    {"commit over erased flash", old_over_erased, settings("new", 40), false,
     settings("new", 40)},
    {"reset over erased flash", old_over_erased, "", true, defaults_text},
};

// The bytes the whole write of `next` over `old` puts on the device.
ssize_t full_write_size(const temp_dir &dir, const std::string &old, const std::string &next)
{
    dir.put("measure", old);
    unique_fd fd(::open((dir / "measure").c_str(), O_RDWR | O_CLOEXEC));
    return flash_write_image(fd.get(), std::span<const char>(next.data(), next.size()));
}

// Cut points: before and after each of the three steps (a guard line
// written in one call within one sector is whole or absent), and byte
// offsets inside the image's write.
std::vector<long long> cut_points(long long total)
{
    const long long guard = 12, body = total - 2 * guard;
    std::vector<long long> cuts = {0, guard, guard + body, total};
    for (long long inside : {1LL, 511LL, 4096LL, 65536LL, 65537LL, body / 2, body - 1})
        if (inside > 0 && inside < body)
            cuts.push_back(guard + inside);
    return cuts;
}

void run_cut(const flash_paths &p, const temp_dir &dir, const scenario &s, long long cut)
{
    dir.put("working", s.working);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    flash_cut_after(cut);
    if (s.reset)
        flash_reset(p);
    else
        flash_commit(p);
    flash_cut_after(-1);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
}

std::string restore_into_empty(const flash_paths &p, const temp_dir &dir)
{
    dir.put("working", "");
    char value[512] = {};
    testing::internal::CaptureStdout();
    flash_restore(p, value);
    testing::internal::GetCapturedStdout();
    return dir.get("working");
}

void check_every_cut(const std::string &device, const temp_dir &dir,
                     const std::function<void(const std::string &)> &lay)
{
    dir.put("defaults", defaults_text);
    const std::string working = dir / "working", defaults = dir / "defaults";
    const flash_paths p{device.c_str(), working.c_str(), defaults.c_str()};
    for (const scenario &s : scenarios) {
        const long long total = full_write_size(dir, s.old, s.next);
        ASSERT_GT(total, 24) << s.name;
        for (long long cut : cut_points(total)) {
            SCOPED_TRACE(std::string(s.name) + ", cut after " + std::to_string(cut) + " of " +
                         std::to_string(total) + " bytes");
            lay(s.old);
            run_cut(p, dir, s, cut);
            std::string restored = restore_into_empty(p, dir);
            if (cut == 0)
                EXPECT_EQ(restored, old_text);
            else if (cut >= total)
                EXPECT_EQ(restored, up_to_blank_line(s.next));
            else
                EXPECT_EQ(restored, defaults_text);
        }
    }
}

} // namespace

TEST(flash_interruption, leaves_old_new_or_invalid_on_a_plain_file)
{
    temp_dir dir;
    const std::string flash = dir / "flash";
    check_every_cut(flash, dir, [&](const std::string &img) { dir.put("flash", img); });
}

TEST(flash_interruption, leaves_old_new_or_invalid_on_a_loop_device)
{
    temp_dir dir;
    dir.put("flash.img", std::string(524288, 'Z'));
    loop_device loop(dir / "flash.img");
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    check_every_cut(loop.path(), dir, [&](const std::string &img) {
        unique_fd fd(::open(loop.path().c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(fd.get(), img.data(), img.size(), 0), static_cast<ssize_t>(img.size()));
        ASSERT_EQ(::fsync(fd.get()), 0);
    });
}

// Writing the flash image to a device: the layout, what is left alone, and
// the writes spared when the device already holds the image.
#include "flash_device.h"

#include "loop_device.h"
#include "flash_layout.h"
#include "temp_dir.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace {

ssize_t write_image(const std::string &device, const std::string &text)
{
    unique_fd fd(::open(device.c_str(), O_RDWR | O_CLOEXEC));
    EXPECT_TRUE(fd) << device;
    return flash_write_image(fd.get(), std::span<const char>(text.data(), text.size()));
}

const std::string config = "SYS_CHECK=7340215968\nAP_SSID=Office\nAP_CHMODE=11NGHT20\n";

} // namespace

TEST(flash_write_image, lays_text_and_fill_and_leaves_what_lies_beyond)
{
    temp_dir dir;
    dir.put("flash", std::string(524288, 'Z'));
    EXPECT_EQ(write_image(dir / "flash", config), 262144 + 12);
    EXPECT_EQ(dir.get("flash"), laid_out(config) + std::string(262144, 'Z'));

    dir.put("empty", "");
    write_image(dir / "empty", config);
    EXPECT_EQ(dir.get("empty"), laid_out(config));
}

TEST(flash_write_image, writes_a_text_longer_than_the_fill_whole_and_nothing_more)
{
    temp_dir dir;
    dir.put("flash", std::string(524288, 'Z'));
    std::string text;
    while (text.size() < 300000)
        text += "AP_DEVICE_NAME=" + std::to_string(text.size()) + "\n";
    write_image(dir / "flash", text);
    EXPECT_EQ(dir.get("flash"), text + std::string(524288 - text.size(), 'Z'));
}

TEST(flash_write_image, leaves_a_device_that_holds_the_image_unwritten)
{
    temp_dir dir;
    dir.put("flash", laid_out(config));
    struct stat before, after;
    ASSERT_EQ(::stat((dir / "flash").c_str(), &before), 0);
    EXPECT_EQ(write_image(dir / "flash", config), 0);
    ASSERT_EQ(::stat((dir / "flash").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(dir.get("flash"), laid_out(config));
}

TEST(flash_write_image, writes_only_the_span_that_changes)
{
    temp_dir dir;
    dir.put("flash", laid_out(config));
    // The value differs within the first 12 bytes: one small write.
    std::string early = "SYS_CHECK=0340215968\nAP_SSID=Office\nAP_CHMODE=11NGHT20\n";
    EXPECT_EQ(write_image(dir / "flash", early), 12);
    EXPECT_EQ(dir.get("flash"), laid_out(early));
    // A later change: guard, the changed bytes, the first bytes again.
    std::string later = "SYS_CHECK=0340215968\nAP_SSID=Home\nAP_CHMODE=11NGHT20\n";
    ssize_t n = write_image(dir / "flash", later);
    EXPECT_EQ(dir.get("flash"), laid_out(later));
    EXPECT_GT(n, 24);
    EXPECT_LT(n, 24 + 32);
}

TEST(flash_write_image, refuses_a_text_longer_than_the_block_device)
{
    temp_dir dir;
    const std::string old = laid_out(config).substr(0, 131072);
    dir.put("small.img", old);
    loop_device loop(dir / "small.img");
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    EXPECT_EQ(write_image(loop.path(), "SYS_CHECK=7340215968\n" + std::string(131072, 'A') + "=1\n"), -ENOSPC);
    EXPECT_EQ(loop.bytes(), old);
}

TEST(flash_read_check, tells_a_readable_device_from_one_that_fails)
{
    temp_dir dir;
    dir.put("flash", laid_out(config));
    unique_fd file(::open((dir / "flash").c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(flash_read_check(file.get()), 0);
    unique_fd folder(::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    EXPECT_EQ(flash_read_check(folder.get()), -EISDIR);
}

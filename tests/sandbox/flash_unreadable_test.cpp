// The flash commands on a partition whose reads fail with EIO in one place
// (an image served through FUSE, tests/support/flaky_flash.h): i gives the
// committed settings wherever they can be read, each fault with its one
// line, and a c of a change saves where the blocks it changes can be read.
#include "device_libc.h"
#include "flaky_flash.h"
#include "flash_layout.h"
#include "sandbox.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>

namespace {

const std::string working = "/tmp/.current_config";
constexpr size_t part = 262144, area = 196608;

std::string restore_err(size_t at, const char *from)
{
    return "cannot read the flash copy /dev/mtdblock4 at offset " + std::to_string(at) + "; " +
           from + "\n";
}

std::string refused_at(size_t at)
{
    return "cannot write /dev/mtdblock4: reading at offset " + std::to_string(at) + " failed: " +
           device_error_text(EIO) + "; the flash copy is left as it was\n";
}

const std::string harmless = "the settings do not reach there";
const std::string defaults_line = "cannot use the flash copy /dev/mtdblock4: " +
                                  device_error_text(EIO) +
                                  "; the working configuration is taken from /etc/ath/default_config\n";
const std::string no_backup =
    "the flash copy /dev/mtdblock4 was saved without a backup: its backup area at offset 196608 "
    "cannot be read\n";

// A partition of `size` bytes, erased, that a first boot and a commit of
// AP_SSID=Committed left as this release leaves it.
std::string committed_partition(size_t size)
{
    sandbox d;
    const std::string image = d.work() + "/committed.img";
    write_host_file(image, std::string(size, '\xff'));
    d.flash = image;
    d.run("confstore i && confstore w AP_SSID Committed && confstore c > /dev/null");
    return read_host_file(image);
}

} // namespace

TEST(flash_unreadable, i_gives_what_can_be_read_and_c_saves_where_its_blocks_can_be_read)
{
    const std::string p256 = committed_partition(part), p512 = committed_partition(2 * part);
    std::string text = shipped_defaults();
    text.replace(text.find("AP_SSID=Wireless-AP"), 19, "AP_SSID=Committed");
    const std::string no_area = laid_out(text);  // written before the backup area existed
    const struct {
        const char *name;
        const std::string &image;
        size_t from, to;
        std::string i_err, ssid;  // what i says and gives
        std::string c_err;        // a c of a change; "" when it saves
    } rows[] = {
        {"a block the text never reaches", p256, 65536, 131072, restore_err(65536, harmless.c_str()),
         "Committed", ""},
        {"behind the image area", p512, 307200, 2 * part, restore_err(307200, harmless.c_str()),
         "Committed", ""},
        {"the fill behind the text in its block", p256, 8192, 12288,
         restore_err(8192, harmless.c_str()), "Committed", refused_at(8192)},
        {"the backup area behind its records", p256, area + 8192, area + 12288,
         restore_err(area + 8192, harmless.c_str()), "Committed", no_backup},
        {"the copy's text, with a finished record", p256, 0, 4096,
         restore_err(0, "the working configuration is taken from its backup"), "Committed",
         refused_at(0)},
        {"the copy's text, without a record", no_area, 0, 4096, defaults_line, "Wireless-AP",
         refused_at(0)},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        sandbox d;
        const std::string image = d.work() + "/flash.img";
        write_host_file(image, row.image);
        flaky_flash flash(image, d.work(), {{row.from, row.to}});
        ASSERT_FALSE(flash.path().empty()) << "the FUSE partition could not be mounted";
        d.flash = flash.path();
        d.fetch = {"/tmp/i.err", "/tmp/c.err", "/tmp/next.err"};
        auto r = d.run("confstore i 2> /tmp/i.err; echo \"$(confstore r AP_SSID)\"\n"
                       "confstore w AP_SSID Next && confstore c > /dev/null 2> /tmp/c.err\n"
                       "rm /tmp/.current_config; confstore i 2> /tmp/next.err; confstore r AP_SSID\n");
        EXPECT_EQ(r.file("/tmp/i.err"), row.i_err);
        EXPECT_EQ(r.file("/tmp/c.err"), row.c_err);
        const bool saved = row.c_err.empty() || row.c_err == no_backup;
        EXPECT_EQ(r.out, row.ssid + "\n" + (saved ? "Next" : row.ssid) + "\n");
        EXPECT_EQ(r.file("/tmp/next.err"), row.i_err);
        // Nothing was written where nothing could be read.
        const std::string after = read_host_file(image);
        EXPECT_EQ(after.substr(row.from, row.to - row.from),
                  row.image.substr(row.from, row.to - row.from));
        if (!saved)
            EXPECT_TRUE(after == row.image) << "a refused save wrote";
    }
}

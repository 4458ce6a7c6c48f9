// Committing the working configuration to the flash copy (c) and resetting
// the flash copy to the defaults (d).
//
// Both build the new text first and save it by the power-safe write of
// flash_write.h, rather than erasing the device and then copying onto it:
// a cut leaves the old text or the new one, and a device that already holds
// the text is not written at all.
#include "flash.h"
#include "flash_adapter.h"
#include "flash_text.h"
#include "flash_write.h"
#include "messages.h"

#include "file_lock.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The flash copy's setting lines; 0 when it cannot be read, since the count
// only chooses between the two ways of committing.
int flash_lines(const char *device)
{
    unique_fd dev(flash_open(device, false));
    int lines = dev ? count_setting_lines(dev.get()) : 0;
    return lines < 0 ? 0 : lines;
}

// The counts agree: the working configuration's setting lines, up to its
// first line without "=", become the text from offset 0. Written in place of
// the old text, not behind it, so the change persists and no remnant of a
// longer old text is left.
void commit_setting_lines(const flash_paths &p, int work)
{
    unique_fd dev(flash_open(p.device, true));
    if (!dev) {
        int err = errno;
        std::fputs(msg_file_open_error, stdout);
        flash_report("open", p.device, err);
        return;
    }
    heap_text text;
    int rc = ::lseek(work, 0, SEEK_SET) < 0 ? -errno
                                            : copy_setting_lines(work, line_source::file, text);
    if (rc < 0) {
        flash_report("read", p.working, -rc, true);
        return;
    }
    flash_store(dev.get(), text, p.device);
}

// After the erase message: the device takes the whole of the open file `src`
// (or the reason `src` could not be opened), lines without "=" and all.
void copy_whole_file(const char *device, const char *copy_msg, int src, int src_err,
                     const char *src_path)
{
    unique_fd dev(flash_open(device, true));
    if (!dev) {
        flash_report("open", device, errno);
        return;
    }
    std::fputs(copy_msg, stdout);
    heap_text text;
    int rc = src < 0 ? -src_err : ::lseek(src, 0, SEEK_SET) < 0 ? -errno : read_whole_file(src, text);
    if (rc < 0) {
        flash_report("read", src_path, -rc, true);
        return;
    }
    flash_store(dev.get(), text, device);
}

} // namespace

void flash_report(const char *action, const char *path, int err, bool kept)
{
    std::fflush(stdout);
    std::fprintf(stderr, kept ? msg_flash_kept_fmt : msg_flash_failed_fmt, action, path,
                 std::strerror(err));
}

int flash_store(int fd, heap_text &text, const char *device)
{
    // A last line without its newline would run into the fill, and a last
    // byte 0xFF could not be told from the fill's: every text ends a line.
    if (!text.ends_line() && text.append(std::string_view("\n")) != 0) {
        flash_report("write", device, ENOMEM, true);
        return -ENOMEM;
    }
    flash_adapter dev;
    flash_save_count count;
    int rc = flash_adapter_open(fd, dev);
    // Through the character device the block device's caches are dropped on
    // both sides: nothing stale is written back over the new bytes, and
    // every later read sees them.
    if (rc == 0)
        rc = flash_drop_cache(dev);
    if (rc == 0)
        rc = flash_save(dev, text.bytes(), count);
    if (int dropped = flash_drop_cache(dev); rc == 0)
        rc = dropped;
    if (rc < 0)
        flash_report("write", device, -rc);
    return rc;
}

// The flash commands run under the working configuration's lock, which also
// keeps two of them from writing the flash copy at once.
void flash_commit(const flash_paths &p)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    distrust why;
    unique_fd work(trusted_open(p.working, O_RDONLY, 0, &why));
    if (!work && refused(p.working, why))
        return;
    int line1 = work ? count_setting_lines(work.get()) : -errno;
    if (line1 < 0) {
        // Nothing to commit from: the flash copy keeps every saved setting.
        flash_report(work ? "read" : "open", p.working, -line1, true);
        return;
    }
    int line2 = flash_lines(p.device);
    if (line1 == line2) {
        std::printf(msg_commit_same_fmt, line1, line2);
        commit_setting_lines(p, work.get());
    } else {
        std::printf(msg_commit_different_fmt, line1, line2);
        std::fputs(msg_erase_flash, stdout);
        copy_whole_file(p.device, msg_copy_config, work.get(), 0, p.working);
    }
}

void flash_reset(const flash_paths &p)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    std::fputs(msg_reset_to_default, stdout);
    std::fputs(msg_erase_flash, stdout);
    unique_fd defaults(open_regular_input(p.defaults));
    copy_whole_file(p.device, msg_copy_defaults, defaults.get(), errno, p.defaults);
}

void flash_commit()
{
    flash_commit(device_flash_paths);
}

void flash_reset()
{
    flash_reset(device_flash_paths);
}

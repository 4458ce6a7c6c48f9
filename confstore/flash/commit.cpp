// Committing the working configuration to the flash copy (c) and resetting
// the flash copy to the defaults (d).
//
// Both build the new text first and save it by the power-safe write of
// write.h, rather than erasing the device and then copying onto it: a cut
// leaves the old text or the new one, and a device that already holds the
// text is not written at all.
#include "flash/commands.h"
#include "flash/reading.h"
#include "flash/save.h"
#include "messages.h"
#include "setting_lines.h"

#include "file_lock.h"
#include "read_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace {

// The working configuration's text. 0, or -errno (`opened` telling a
// failed read from a failed open, `why` a refusal).
int read_working(const char *working, heap_text &text, distrust &why, bool &opened)
{
    const int fd = trusted_open(working, O_RDONLY, 0, &why);
    unique_fd work(fd);
    opened = fd >= 0;
    return opened ? read_whole_file(fd, text) : fd;
}

// The setting lines of the flash copy that `part` holds: 0 for one that
// cannot be read (the count only chooses between the two ways of
// committing).
int flash_setting_lines(const flash_partition &part, int open_rc)
{
    const std::span<const char> bytes = part.bytes.bytes();
    if (open_rc != 0)
        return 0;
    return std::max(0, count_setting_lines(bytes.first(flash_copy_of(part.g, bytes).lines_end)));
}

// The line of a partition that `part.open` could not open or read.
void tell_unusable(const flash_partition &part, const char *device, int open_rc)
{
    if (part.opened)
        flash_tell("read", device, -open_rc, flash_tail(flash_left::old_copy));
    else
        flash_tell("open", device, -open_rc);
}

// The lines of a save: `announce` once it was under way, then what failed.
void tell_save(const char *device, const flash_result &r, const char *announce)
{
    if (r.under_way)
        std_out().put(announce);
    flash_report(device, r);
}

} // namespace

// The flash commands run under the working configuration's lock, which also
// keeps two of them from writing the flash copy at once.
void flash_commit(const flash_paths &p)
{
    const char *kept = flash_tail(flash_left::old_copy);
    file_lock lock(p.working);
    tell_lock(lock, p.working);
    if (!lock.held())
        return;
    heap_text text;
    distrust why;
    bool opened;
    if (int rc = read_working(p.working, text, why, opened); rc < 0) {
        // Nothing to commit from: the flash copy keeps every saved setting.
        if (why != distrust::none)
            tell_refusal(p.working, why);
        else
            flash_tell(opened ? "read" : "open", p.working, -rc, kept);
        return;
    }
    const int line1 = count_setting_lines(text.bytes());
    if (line1 < 0) {
        flash_tell("read", p.working, -line1, kept);
        return;
    }
    flash_partition part;
    const int open_rc = part.open(p.device);
    const int line2 = flash_setting_lines(part, open_rc);
    // With the same count, the working configuration's setting lines, up to
    // its first line without "=", become the text from offset 0: in place
    // of the old text, not behind it, so no remnant of a longer one is
    // left. This way alone says "File open error!" of a device it cannot
    // open, and does not announce the copying.
    const bool same = line1 == line2;
    heap_text lines;
    if (same) {
        put_format(std_out(), msg_commit_same_fmt, line1, line2);
        if (int rc = append_setting_lines(text.bytes(), line_source::file, lines); rc < 0) {
            flash_tell("read", p.working, -rc, kept);
            return;
        }
    } else {
        put_format(std_out(), msg_commit_different_fmt, line1, line2);
        std_out().put(msg_erase_flash);
    }
    if (open_rc != 0) {
        if (same && !part.opened)
            std_out().put(msg_file_open_error);
        tell_unusable(part, p.device, open_rc);
        return;
    }
    const flash_result r = part.save(same ? lines : text);
    if (same && r.fault == flash_fault::open)
        std_out().put(msg_file_open_error);
    tell_save(p.device, r, same ? "" : msg_copy_config);
}

void flash_reset(const flash_paths &p)
{
    file_lock lock(p.working);
    tell_lock(lock, p.working);
    if (!lock.held())
        return;
    std_out().put(msg_reset_to_default);
    std_out().put(msg_erase_flash);
    flash_partition part;
    if (int rc = part.open(p.device)) {
        tell_unusable(part, p.device, rc);
        return;
    }
    heap_text text;
    const int fd = open_regular_input(p.defaults);
    unique_fd defaults(fd);
    if (int rc = fd < 0 ? fd : read_whole_file(fd, text); rc < 0) {
        // The device could be had: the copying begins, and finds no source.
        std_out().put(msg_copy_defaults);
        flash_tell("read", p.defaults, -rc, flash_tail(flash_left::old_copy));
        return;
    }
    tell_save(p.device, part.save(text), msg_copy_defaults);
}

void flash_commit()
{
    flash_commit(device_flash_paths);
}

void flash_reset()
{
    flash_reset(device_flash_paths);
}

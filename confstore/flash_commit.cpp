// Committing the working configuration to the flash copy (c) and resetting
// the flash copy to the defaults (d).
//
// Both build the new text first and save it by the power-safe write of
// flash_write.h, rather than erasing the device and then copying onto it:
// a cut leaves the old text or the new one, and a device that already holds
// the text is not written at all.
#include "flash.h"
#include "flash_write.h"
#include "messages.h"
#include "setting_lines.h"

#include "file_lock.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>

namespace {

// The save of `text` as c and d print it: `copy_msg` once the device could
// be opened for writing (or need not be), "File open error!" for a device
// that cannot be opened (`open_error_line`), one line on standard error
// for any failure.
void store(flash_partition &part, int open_rc, const char *device, heap_text &text,
           const char *copy_msg, bool open_error_line)
{
    if (open_rc != 0) {
        if (open_error_line && !part.opened)
            std_out().put(msg_file_open_error);
        flash_report(part.opened ? "read" : "open", device, -open_rc, part.opened);
        return;
    }
    const flash_result r = part.save(text, copy_msg);
    if (open_error_line && r.fault == flash_fault::open)
        std_out().put(msg_file_open_error);
    flash_report(device, r);
}

// Reads the working configuration's text. 0, or -errno with `opened`
// telling a failed read from a failed open (or `why` a refusal).
int read_working(const char *working, heap_text &text, distrust &why, bool &opened)
{
    unique_fd work(trusted_open(working, O_RDONLY, 0, &why));
    opened = static_cast<bool>(work);
    return work ? read_whole_file(work.get(), text) : -errno;
}

} // namespace

// The flash commands run under the working configuration's lock, which also
// keeps two of them from writing the flash copy at once.
void flash_commit(const flash_paths &p)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    heap_text text;
    distrust why;
    bool opened;
    if (int rc = read_working(p.working, text, why, opened); rc < 0) {
        // Nothing to commit from: the flash copy keeps every saved setting.
        if (!refused(p.working, why))
            flash_report(opened ? "read" : "open", p.working, -rc, true);
        return;
    }
    const int line1 = count_setting_lines(text.bytes());
    if (line1 < 0) {
        flash_report("read", p.working, -line1, true);
        return;
    }
    flash_partition part;
    const int open_rc = part.open(p.device);
    // An unreadable flash copy counts no lines: the count only chooses
    // between the two ways of committing.
    const int line2 =
        open_rc ? 0 : std::max(0, count_setting_lines(part.bytes.bytes().first(
                                      flash_lines_end(part.g, part.bytes.bytes()))));
    if (line1 == line2) {
        // The working configuration's setting lines, up to its first line
        // without "=", become the text from offset 0: in place of the old
        // text, not behind it, so no remnant of a longer one is left.
        put_format(std_out(), msg_commit_same_fmt, line1, line2);
        heap_text lines;
        if (int rc = copy_setting_lines(text.bytes(), line_source::file, lines); rc < 0) {
            flash_report("read", p.working, -rc, true);
            return;
        }
        store(part, open_rc, p.device, lines, nullptr, true);
    } else {
        put_format(std_out(), msg_commit_different_fmt, line1, line2);
        std_out().put(msg_erase_flash);
        store(part, open_rc, p.device, text, msg_copy_config, false);
    }
}

void flash_reset(const flash_paths &p)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    std_out().put(msg_reset_to_default);
    std_out().put(msg_erase_flash);
    flash_partition part;
    const int open_rc = part.open(p.device);
    heap_text text;
    if (open_rc == 0) {
        unique_fd defaults(open_regular_input(p.defaults));
        if (int rc = defaults ? read_whole_file(defaults.get(), text) : -errno; rc < 0) {
            // The device could be had: the copy begins, and finds no source.
            std_out().put(msg_copy_defaults);
            flash_report("read", p.defaults, -rc, true);
            return;
        }
    }
    store(part, open_rc, p.device, text, msg_copy_defaults, false);
}

void flash_commit()
{
    flash_commit(device_flash_paths);
}

void flash_reset()
{
    flash_reset(device_flash_paths);
}

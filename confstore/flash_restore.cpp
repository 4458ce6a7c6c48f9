// Filling the working configuration from the flash copy (i).
//
// Where the text comes from is flash_reading.h's rule: a valid copy, the
// newest record of a save that a cut interrupted (the copy is then written
// again from it), or the defaults (written to the flash copy too). The
// lines of a copy or a record are appended behind what the working
// configuration holds. A flash copy that cannot be opened or read is not
// taken for an invalid one: it is left alone, since erasing it on a
// passing fault would lose every saved setting, and the working
// configuration takes the defaults so the device can start. So too where
// the pieces that cannot be read leave the copy's text unknown and no
// record stands in for it; pieces the restore does not need cost one line.
//
// The working configuration is changed whole or not at all: its new text is
// built first and then put in place (replace_file.h). The helpers below say
// what failed; flash_restore prints it.
#include "flash.h"
#include "flash_reading.h"
#include "flash_write.h"
#include "messages.h"
#include "setting_lines.h"

#include "file_lock.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace {

// What failed with a file on the way: the action, the file, the reason.
struct file_failure {
    const char *action = nullptr;  // none: nothing failed
    const char *path = nullptr;
    int err = 0;
    bool open_line = false;  // "File open error!" on standard output first
};

// The working configuration becomes `text` whole, at once, keeping its mode.
// A link of another user in its place lends nothing and is replaced itself.
file_failure set_working(const char *working, std::span<const char> text)
{
    struct stat st;
    unique_fd old(trusted_open(working, O_RDONLY | O_NONBLOCK));
    bool exists = old && ::fstat(old.get(), &st) == 0 && S_ISREG(st.st_mode);
    remove_stale_replacements(working);
    if (int rc = replace_file(working, text, exists ? &st : nullptr); rc < 0)
        return {"replace", working, -rc};
    return {};
}

int read_defaults(const char *path, heap_text &text)
{
    unique_fd fd(open_regular_input(path));
    return fd ? read_whole_file(fd.get(), text) : -errno;
}

// The working configuration as the defaults file has it.
file_failure take_defaults(const flash_paths &p)
{
    heap_text text;
    if (int rc = read_defaults(p.defaults, text); rc < 0)
        return {"read", p.defaults, -rc};
    return set_working(p.working, text.bytes());
}

// The working configuration as it stands, then `lines`, its last line ended
// first so that it does not run into the first of them. None, or what
// another user planted in its place, counts as empty: the new file of
// root's own replaces it.
int working_with(const char *working, std::span<const char> lines, heap_text &out)
{
    distrust why = distrust::none;
    unique_fd fd(trusted_open(working, O_RDONLY | O_NONBLOCK, 0, &why));
    struct stat st;
    if (!fd && why == distrust::none && errno != ENOENT)
        return -errno;
    if (fd && ::fstat(fd.get(), &st) != 0)
        return -errno;
    if (fd && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? -EISDIR : -ENODEV;
    if (fd)
        if (int rc = read_whole_file(fd.get(), out))
            return rc;
    if (!lines.empty() && !out.ends_line())
        if (int rc = out.append(std::string_view("\n")))
            return rc;
    return out.append(lines);
}

// The setting lines of `text` (a copy or a record) appended behind what the
// working configuration holds; a missing one is created.
file_failure append_lines(const flash_paths &p, std::span<const char> text)
{
    heap_text lines, working;
    if (int rc = copy_setting_lines(text, line_source::flash, lines); rc < 0)
        return {"read", p.device, -rc};
    if (int rc = working_with(p.working, lines.bytes(), working); rc < 0)
        return {"open", p.working, -rc, true};
    return set_working(p.working, working.bytes());
}

// A piece that could not be read, where the settings come from anyway.
void tell_hole(const flash_paths &p, const flash_reading &r)
{
    if (r.hole == flash_none)
        return;
    (void)std_out().flush();
    if (r.unread)
        put_format(std_err(), msg_flash_hole_backup_fmt, p.device, r.hole);
    else
        put_format(std_err(), msg_flash_hole_fmt, p.device, r.hole);
}

void report(const file_failure &f)
{
    if (!f.action)
        return;
    if (f.open_line)
        std_out().put(msg_file_open_error);
    flash_report(f.action, f.path, f.err);
}

// The device cannot be read: the defaults, the flash copy left alone.
void unreadable(const flash_paths &p, int err)
{
    (void)std_out().flush();
    put_format(std_err(), msg_flash_unreadable_fmt, p.device, std::strerror(err), p.defaults);
    report(take_defaults(p));
}

} // namespace

// The restore holds the lock that every writer of the working
// configuration takes.
void flash_restore(const flash_paths &p)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    flash_partition part;
    if (int rc = part.open(p.device)) {
        // (A directory or a FIFO in its place opens, and is then refused.)
        if (!part.opened && rc != -EISDIR && rc != -ENODEV)
            put_format(std_out(), msg_open_failed_fmt, p.device, std::strerror(-rc));
        unreadable(p, -rc);
        return;
    }
    const flash_reading r = flash_read(part.g, part.bytes.bytes(), part.holes);
    if (r.unread && r.from == flash_reading::defaults) {
        unreadable(p, EIO);
        return;
    }
    tell_hole(p, r);
    heap_text text;  // its own bytes: a save rewrites the partition's
    if (r.from == flash_reading::copy) {
        report(append_lines(p, r.text));
        // A save that a cut ended before it changed the copy: its record
        // must never come back in place of the copy.
        flash_report(p.device, part.finish(r.finish_at));
    } else if (r.unread) {
        // The record stands in for a copy that cannot be read whole.
        report(append_lines(p, r.text));
    } else if (r.from == flash_reading::backup) {
        // A cut interrupted a save: the record's text becomes the working
        // configuration's and, by the same write, the flash copy's again
        // (once per restore; a repair that fails is tried by the next).
        (void)std_out().flush();
        put_format(std_err(), msg_flash_from_backup_fmt, p.device);
        if (text.append(r.text) != 0) {
            flash_report("read", p.device, ENOMEM);
            return;
        }
        report(append_lines(p, text.bytes()));
        flash_report(p.device, part.save(text));
    } else {
        // Read to its end and not valid, and no backup stands in.
        if (int rc = read_defaults(p.defaults, text); rc < 0) {
            flash_report("read", p.defaults, -rc, true);
            return;
        }
        const size_t defaults_size = text.size();
        flash_report(p.device, part.save(text));
        report(set_working(p.working, text.bytes().first(defaults_size)));
    }
}

void flash_restore()
{
    flash_restore(device_flash_paths);
}

// Filling the working configuration from the flash copy (i).
//
// Where the text comes from is reading.h's rule: a valid copy, the
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
#include "flash/commands.h"
#include "flash/reading.h"
#include "flash/save.h"
#include "messages.h"
#include "setting_lines.h"

#include "file_lock.h"
#include "read_file.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace {

// The working configuration becomes `text` whole, at once, keeping its mode.
// A link of another user in its place lends nothing and is replaced itself.
// 0, or -errno.
int set_working(const char *working, std::span<const char> text)
{
    struct stat st;
    const int fd = trusted_open(working, O_RDONLY | O_NONBLOCK);
    unique_fd old(fd);
    const bool exists = old && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    remove_stale_replacements(working);
    return replace_file(working, text, exists ? &st : nullptr);
}

int read_defaults(const char *path, heap_text &text)
{
    const int fd = open_regular_input(path);
    unique_fd defaults(fd);
    return fd < 0 ? fd : read_whole_file(fd, text);
}

// The working configuration as the defaults file has it.
config_result take_defaults(const flash_paths &p)
{
    heap_text text;
    if (int rc = read_defaults(p.defaults, text); rc < 0)
        return {outcome::unread, p.defaults, -rc};
    if (int rc = set_working(p.working, text.bytes()); rc < 0)
        return {outcome::unreplaced, p.working, -rc};
    return {};
}

// The working configuration as it stands, then `lines`, its last line ended
// first so that it does not run into the first of them. None, or what
// another user planted in its place, counts as empty: the new file of
// root's own replaces it. 0, or -errno.
int working_with(const char *working, std::span<const char> lines, heap_text &out)
{
    distrust why = distrust::none;
    const int fd = trusted_open(working, O_RDONLY | O_NONBLOCK, 0, &why);
    unique_fd work(fd);
    struct stat st;
    if (fd < 0 && why == distrust::none && fd != -ENOENT)
        return fd;
    if (work && ::fstat(fd, &st) != 0)
        return -errno;
    if (work && !S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? -EISDIR : -ENODEV;
    if (work)
        if (int rc = read_whole_file(fd, out))
            return rc;
    if (!lines.empty() && !out.ends_line())
        if (int rc = out.append(std::string_view("\n")))
            return rc;
    return out.append(lines);
}

// The setting lines of `text` (the flash copy's or a record's) appended
// behind what the working configuration holds; a missing one is created.
config_result append_lines(const flash_paths &p, std::span<const char> text)
{
    heap_text lines, working;
    if (int rc = append_setting_lines(text, line_source::flash, lines); rc < 0)
        return {outcome::unread, p.device, -rc};
    if (int rc = working_with(p.working, lines.bytes(), working); rc < 0)
        return {outcome::unopened, p.working, -rc};
    if (int rc = set_working(p.working, working.bytes()); rc < 0)
        return {outcome::unreplaced, p.working, -rc};
    return {};
}

// The line of what failed with a file, if anything did.
void tell_file(const config_result &r)
{
    switch (r.what) {
    case outcome::unopened:
        std_out().put(msg_file_open_error);
        flash_tell("open", r.path, r.err);
        break;
    case outcome::unread: flash_tell("read", r.path, r.err); break;
    case outcome::unreplaced: flash_tell("replace", r.path, r.err); break;
    default: break;
    }
}

} // namespace

// The restore holds the lock that every writer of the working
// configuration takes.
void flash_restore(const flash_paths &p)
{
    file_lock lock(p.working);
    tell_lock(lock, p.working);
    if (!lock.held())
        return;
    flash_partition part;
    int unusable = part.open(p.device);
    // (A directory or a FIFO in its place opens, and is then refused.)
    if (unusable != 0 && !part.opened && unusable != -EISDIR && unusable != -ENODEV)
        put_format(std_out(), msg_open_failed_fmt, p.device, std::strerror(-unusable));
    flash_reading r;
    if (unusable == 0)
        r = flash_read(part.g, part.bytes.bytes(), part.holes);
    if (unusable == 0 && r.unread && r.from == flash_reading::defaults)
        unusable = -EIO;
    if (unusable != 0) {
        // The working configuration takes the defaults, the flash copy is
        // left alone.
        (void)std_out().flush();
        put_format(std_err(), msg_flash_unreadable_fmt, p.device, std::strerror(-unusable),
                   p.defaults);
        tell_file(take_defaults(p));
        return;
    }
    // A piece that could not be read, where the settings come from anyway.
    if (r.hole != flash_none) {
        (void)std_out().flush();
        if (r.unread)
            put_format(std_err(), msg_flash_hole_backup_fmt, p.device, r.hole);
        else
            put_format(std_err(), msg_flash_hole_fmt, p.device, r.hole);
    }
    heap_text text;  // its own bytes: a save rewrites the partition's
    if (r.from == flash_reading::copy) {
        tell_file(append_lines(p, r.text));
        // A save that a cut ended before it changed the copy: its record
        // must never come back in place of the copy.
        flash_report(p.device, part.finish(r.finish_at));
    } else if (r.unread) {
        // The record stands in for a copy that cannot be read whole.
        tell_file(append_lines(p, r.text));
    } else if (r.from == flash_reading::backup) {
        // A cut interrupted a save: the record's text becomes the working
        // configuration's and, by the same write, the flash copy's again
        // (once per restore; a repair that fails is tried by the next).
        (void)std_out().flush();
        put_format(std_err(), msg_flash_from_backup_fmt, p.device);
        if (text.append(r.text) != 0) {
            flash_tell("read", p.device, ENOMEM);
            return;
        }
        tell_file(append_lines(p, text.bytes()));
        flash_report(p.device, part.save(text));
    } else {
        // Read to its end and not valid, and no backup stands in.
        if (int rc = read_defaults(p.defaults, text); rc < 0) {
            flash_tell("read", p.defaults, -rc, flash_tail(flash_left::old_copy));
            return;
        }
        const size_t defaults_size = text.size();
        flash_report(p.device, part.save(text));
        if (int rc = set_working(p.working, text.bytes().first(defaults_size)); rc < 0)
            flash_tell("replace", p.working, -rc);
    }
}

void flash_restore()
{
    flash_restore(device_flash_paths);
}

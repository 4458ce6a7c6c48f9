// Filling the working configuration from the flash copy (i).
//
// A valid flash copy gives its setting lines to the working configuration.
// One that was read and is not valid was cut short while a text was being
// saved, or never held one: the newest whole record of the backup area
// (flash_write.h) gives the text when it is valid, and the copy is written
// again from it; otherwise the flash copy and the working configuration
// are reset to the defaults. A flash copy that cannot be opened or read is
// not taken for an invalid one: it is left alone, since erasing it on a
// passing fault would lose every saved setting, and the working
// configuration takes the defaults so the device can start.
//
// The working configuration is changed whole or not at all: its new text is
// built first and then put in place (replace_file.h).
#include "flash.h"
#include "flash_adapter.h"
#include "config_line.h"
#include "flash_backup.h"
#include "flash_text.h"
#include "flash_write.h"
#include "messages.h"

#include "file_lock.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The working configuration becomes `text` whole, at once, keeping its mode.
// A link of another user in its place lends nothing and is replaced itself.
int set_working(const char *working, std::span<const char> text)
{
    struct stat st;
    unique_fd old(trusted_open(working, O_RDONLY | O_NONBLOCK));
    bool exists = old && ::fstat(old.get(), &st) == 0 && S_ISREG(st.st_mode);
    remove_stale_replacements(working);
    int rc = replace_file(working, text, exists ? &st : nullptr);
    if (rc < 0)
        flash_report("replace", working, -rc);
    return rc;
}

int read_defaults(const char *path, heap_text &text)
{
    unique_fd fd(open_regular_input(path));
    return fd ? read_whole_file(fd.get(), text) : -errno;
}

void take_defaults(const flash_paths &p, int err)
{
    std::fflush(stdout);
    std::fprintf(stderr, msg_flash_unreadable_fmt, p.device, std::strerror(err), p.defaults);
    heap_text text;
    if (int rc = read_defaults(p.defaults, text); rc < 0) {
        flash_report("read", p.defaults, -rc);
        return;
    }
    set_working(p.working, text.bytes());
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

// The flash copy's setting lines are appended behind what the working
// configuration holds; a missing one is created.
void restore_valid(const flash_paths &p, int dev)
{
    heap_text lines, text;
    if (int rc = ::lseek(dev, 0, SEEK_SET) < 0 ? -errno
                                               : copy_setting_lines(dev, line_source::flash, lines);
        rc < 0) {
        take_defaults(p, -rc);
        return;
    }
    if (int rc = working_with(p.working, lines.bytes(), text); rc < 0) {
        std::fputs(msg_file_open_error, stdout);
        flash_report("open", p.working, -rc);
        return;
    }
    set_working(p.working, text.bytes());
}

// A cut interrupted a save: the newest record's text becomes the working
// configuration and, by the same write, the flash copy again.
void restore_backup(const flash_paths &p, std::span<const char> text)
{
    std::fflush(stdout);
    std::fprintf(stderr, msg_flash_from_backup_fmt, p.device);
    heap_text lines;
    if (int rc = copy_setting_lines(text, lines); rc < 0)
        flash_report("read", p.device, -rc);
    else
        set_working(p.working, lines.bytes());
    heap_text copy;
    unique_fd dev(flash_open(p.device, true));
    if (!dev) {
        flash_report("open", p.device, errno);
        return;
    }
    if (copy.append(text) != 0) {
        flash_report("write", p.device, ENOMEM);
        return;
    }
    flash_store(dev.get(), copy, p.device);
}

// The copy was read to its end and is not valid, and no backup stands in:
// the defaults, in the flash copy and the working configuration.
void reset_invalid(const flash_paths &p)
{
    unique_fd dev(flash_open(p.device, true));
    if (!dev) {
        take_defaults(p, errno);
        return;
    }
    heap_text text;
    if (int rc = read_defaults(p.defaults, text); rc < 0) {
        flash_report("read", p.defaults, -rc, true);
        return;
    }
    const size_t defaults_size = text.size();
    flash_store(dev.get(), text, p.device);
    set_working(p.working, text.bytes().first(defaults_size));
}

// Reads the whole partition at `fd` into `image`, as the write sees it.
int read_partition(flash_adapter &a, flash_buffer &image)
{
    if (!image)
        return -ENOMEM;
    return a.read(0, image.all());
}

// Judges the partition's bytes and restores from them.
void restore_from(const flash_paths &p, unique_fd &dev, const flash_geometry &g,
                  std::span<const char> bytes, std::span<char> value)
{
    const std::span<const char> copy = bytes.first(flash_text_end(g, bytes));
    // The marker's setting, into the value buffer as the lookup delivers it.
    config_deliver(config_find(copy, flash_marker_name), value);
    if (flash_deciding_marker(copy) != flash_none) {
        restore_valid(p, dev.get());
        return;
    }
    const flash_backup_state s = flash_backup_scan(g, bytes);
    const std::span<const char> backup = bytes.subspan(s.text_at, s.newest ? s.text_len : 0);
    dev.reset();
    if (s.newest && flash_deciding_marker(backup) != flash_none)
        restore_backup(p, backup);
    else
        reset_invalid(p);
}

} // namespace

// The restore holds the lock that every writer of the working
// configuration takes.
void flash_restore(const flash_paths &p, std::span<char> value)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    unique_fd dev(flash_open(p.device, false));
    if (!dev) {
        const int err = errno;
        // (A directory or a FIFO in its place opens, and is then refused.)
        if (err != EISDIR && err != ENODEV)
            std::printf(msg_open_failed_fmt, p.device, std::strerror(err));
        take_defaults(p, err);
        return;
    }
    flash_adapter a;
    int rc = flash_adapter_open(dev.get(), a);
    flash_buffer image(rc == 0 ? a.size() : 0);
    if (rc == 0)
        rc = read_partition(a, image);
    if (rc < 0) {
        take_defaults(p, -rc);
        return;
    }
    restore_from(p, dev, flash_geometry_of(a.size(), a.erase_size()), image.all(), value);
}

void flash_restore(std::span<char> value)
{
    flash_restore(device_flash_paths, value);
}

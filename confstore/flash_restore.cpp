// Filling the working configuration from the flash copy (i).
//
// A flash copy that carries the validity marker gives its setting lines to
// the working configuration; one that was read and lacks it is reset to the
// defaults, and so is the working configuration. A flash copy that cannot
// be opened or read is not taken for an invalid one: it is left alone, since
// erasing it on a passing fault would lose every saved setting, and the
// working configuration takes the defaults so the device can start.
#include "flash.h"
#include "flash_device.h"
#include "flash_text.h"
#include "messages.h"

#include "file_lock.h"
#include "io.h"
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
void set_working(const char *working, std::span<const char> text)
{
    struct stat st;
    unique_fd old(trusted_open(working, O_RDONLY | O_NONBLOCK));
    bool exists = old && ::fstat(old.get(), &st) == 0;
    remove_stale_replacements(working);
    if (int rc = replace_file(working, text, exists ? &st : nullptr); rc < 0)
        flash_report("replace", working, -rc);
}

void take_defaults(const flash_paths &p, int err)
{
    std::fflush(stdout);
    std::fprintf(stderr, msg_flash_unreadable_fmt, p.device, std::strerror(err), p.defaults);
    heap_text text;
    if (int rc = read_whole_file(p.defaults, text); rc < 0) {
        flash_report("read", p.defaults, -rc);
        return;
    }
    set_working(p.working, text.bytes());
}

// Appends the lines behind what the file holds, ending its last line first
// so that it does not run into the first restored one.
int append_lines(int fd, std::span<const char> text)
{
    struct stat st;
    if (text.empty())
        return 0;
    if (::fstat(fd, &st) != 0)
        return -errno;
    char last = '\n';
    if (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)
        return -errno;
    if (last != '\n')
        if (int rc = write_all(fd, std::span<const char>("\n", 1)))
            return rc;
    return write_all(fd, text);
}

void restore_valid(const flash_paths &p)
{
    unique_fd dev(::open(p.device, O_RDONLY | O_CLOEXEC));
    if (!dev) {
        flash_report("open", p.device, errno);
        std::fputs(msg_file_open_error, stdout);
    }
    distrust why;
    unique_fd work(trusted_open(p.working, O_RDWR | O_APPEND | O_CREAT, 0666, &why));
    if (!work && refused(p.working, why))
        return;
    if (!work) {
        flash_report("open", p.working, errno);
        std::fputs(msg_file_open_error, stdout);
    }
    if (!dev || !work)
        return;
    heap_text text;
    if (int rc = copy_setting_lines(dev.get(), line_source::flash, text); rc < 0) {
        take_defaults(p, -rc);
        return;
    }
    if (int rc = append_lines(work.get(), text.bytes()); rc < 0)
        flash_report("append to", p.working, -rc);
}

// Only a copy that was read to its end without the marker is reset.
void reset_invalid(const flash_paths &p)
{
    unique_fd dev(::open(p.device, O_RDWR | O_CLOEXEC));
    int rc = dev ? flash_read_check(dev.get()) : -errno;
    if (rc < 0) {
        take_defaults(p, -rc);
        return;
    }
    heap_text text;
    if (rc = read_whole_file(p.defaults, text); rc < 0) {
        flash_report("read", p.defaults, -rc, true);
        return;
    }
    const size_t defaults_size = text.size();
    flash_store(dev.get(), text, p.device);
    set_working(p.working, text.bytes().first(defaults_size));
}

} // namespace

// The append and the replacement hold the lock that every writer of the
// working configuration takes.
void flash_restore(const flash_paths &p, std::span<char> value)
{
    file_lock lock(p.working);
    if (lock_refused(lock, p.working))
        return;
    if (config_get(p.device, flash_marker_name, value) < 0) {
        take_defaults(p, errno);
        return;
    }
    if (std::string_view(value.data(), strnlen(value.data(), value.size())) == flash_marker)
        restore_valid(p);
    else
        reset_invalid(p);
}

void flash_restore(std::span<char> value)
{
    flash_restore(device_flash_paths, value);
}
